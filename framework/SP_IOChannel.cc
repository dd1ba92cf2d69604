#include "framework/SP_IOChannel.h"

#include <event2/buffer.h>

#include "framework/SP_Buffer.h"
#include "framework/SP_EventCallback.h"
#include "framework/SP_MsgBlock.h"
#include "framework/SP_OutMessage.h"

namespace {

const int kMaxRanges = 8;

void addRange(const void* data, int size, int* skip, struct iovec* ranges, int* count) {
  if (*skip < size) {
    ranges[*count].iov_base = const_cast<char*>(static_cast<const char*>(data) + *skip);
    ranges[*count].iov_len = static_cast<size_t>(size - *skip);
    ++*count;
    *skip = 0;
  } else {
    *skip -= size;
  }
}

// Up to 8 ranges of the session's queued messages, after the bytes already
// written of the first ones.
int buildRanges(SP_Session* session, struct iovec* ranges) {
  int count = 0;
  int skip = session->outputOffset();
  SP_ArrayList* list = session->outputList();
  for (int i = 0; i < list->count() && count < kMaxRanges; ++i) {
    SP_OutMessage* message = static_cast<SP_OutMessage*>(list->takeItem(i));
    SP_Buffer* content = message->contentIfAny();
    if (content != nullptr && content->size() > 0) addRange(content->rawBytes(), content->size(), &skip, ranges, &count);
    SP_ArrayList* blocks = message->blocksIfAny();
    for (int b = 0; blocks != nullptr && b < blocks->count() && count < kMaxRanges; ++b) {
      const SP_MsgBlock* block = static_cast<const SP_MsgBlock*>(blocks->itemAt(b));
      if (block->size() > 0) addRange(block->data(), block->size(), &skip, ranges, &count);
    }
  }
  return count;
}

// Takes the fully written messages off the list; each served message that
// has no recipient left goes to the done queue.
void completeWritten(SP_Session* session, int written) {
  SP_ArrayList* list = session->outputList();
  SP_SessionId sid = session->id();
  int offset = session->outputOffset() + written;
  while (list->count() > 0) {
    SP_OutMessage* message = static_cast<SP_OutMessage*>(list->takeItem(0));
    int total = message->totalSize();
    if (offset < total) break;
    list->removeAt(0);
    offset -= total;
    int at = message->recipients()->find(sid);
    if (at >= 0) message->recipients()->take(at);
    message->delivered()->add(sid);
    if (message->recipients()->count() == 0) session->loopContext()->doneQueue->enqueue(message);
  }
  session->setOutputOffset(list->count() > 0 ? offset : 0);
}

}  // namespace

int SP_IOChannel::flushOutput(SP_Session* session) {
  int total = 0;
  // Repeated writes until the channel takes no more or nothing is left.
  while (session->outputList()->count() > 0) {
    struct iovec ranges[kMaxRanges];
    int count = buildRanges(session, ranges);
    int n = count > 0 ? writeVector(ranges, count) : 0;
    if (count == 0) {
      completeWritten(session, 0);
      continue;
    }
    if (n <= 0) return total > 0 ? total : n;
    total += n;
    completeWritten(session, n);
  }
  return total;
}

int SP_DefaultIOChannel::attach(int socket) {
  socket_ = socket;
  return 0;
}

int SP_DefaultIOChannel::readInto(SP_Session* session) {
  return evbuffer_read(session->inputBuffer()->evbuffer(), socket_, -1);
}

int SP_DefaultIOChannel::writeVector(const struct iovec* ranges, int count) {
  return static_cast<int>(::writev(socket_, ranges, count));
}

SP_IOChannel* SP_DefaultIOChannelFactory::newChannel() { return new SP_DefaultIOChannel(); }
