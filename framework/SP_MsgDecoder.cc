#include "framework/SP_MsgDecoder.h"

#include <cstdlib>
#include <cstring>

#include "framework/SP_Buffer.h"

namespace {

const char kCrLfTerm[] = "\r\n.\r\n";
const char kLfTerm[] = "\n.\n";

// Finds the message terminator in `data`: "\r\n.\r\n" first, then "\n.\n".
// Returns its offset and sets *termLen, or -1.
int findTerminator(const char* data, int length, int* termLen) {
  const char* terms[] = {kCrLfTerm, kLfTerm};
  for (const char* term : terms) {
    int tl = static_cast<int>(std::strlen(term));
    for (int i = 0; i + tl <= length; ++i) {
      if (std::memcmp(data + i, term, static_cast<size_t>(tl)) == 0) {
        *termLen = tl;
        return i;
      }
    }
  }
  return -1;
}

int findTerminator(const SP_Buffer* input, int* termLen) {
  const char* terms[] = {kCrLfTerm, kLfTerm};
  for (const char* term : terms) {
    int tl = static_cast<int>(std::strlen(term));
    const void* at = input->search(term, tl);
    if (at != nullptr) {
      *termLen = tl;
      return static_cast<int>(static_cast<const char*>(at) - static_cast<const char*>(input->rawBytes()));
    }
  }
  return -1;
}

char* takeFront(SP_Buffer* input, int length) {
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (text == nullptr) return nullptr;
  if (length > 0) std::memcpy(text, input->rawBytes(), static_cast<size_t>(length));
  text[length] = '\0';
  input->drain(length);
  return text;
}

}  // namespace

int sp_removeDotStuffing(char* text, int length) {
  if (text == nullptr || length <= 0) {
    if (text != nullptr) text[0] = '\0';
    return 0;
  }
  int out = 1;
  int i = 1;
  while (i < length) {
    if (text[i] == '.' && text[i - 1] == '\n') {
      ++i;  // the stuffed dot
      if (i < length) text[out++] = text[i++];
    } else {
      text[out++] = text[i++];
    }
  }
  text[out] = '\0';
  return out;
}

SP_DefaultMsgDecoder::SP_DefaultMsgDecoder() : messageBuffer_(new SP_Buffer()) {}

SP_DefaultMsgDecoder::~SP_DefaultMsgDecoder() { delete messageBuffer_; }

int SP_DefaultMsgDecoder::decode(SP_Buffer* inputBuffer) {
  if (inputBuffer->size() == 0) return NeedMoreData;
  messageBuffer_->clear();
  messageBuffer_->append(inputBuffer);
  inputBuffer->clear();
  return MessageReady;
}

SP_LineMsgDecoder::~SP_LineMsgDecoder() { std::free(line_); }

int SP_LineMsgDecoder::decode(SP_Buffer* inputBuffer) {
  std::free(line_);
  line_ = inputBuffer->takeLine();
  return line_ == nullptr ? NeedMoreData : MessageReady;
}

SP_MultiLineMsgDecoder::~SP_MultiLineMsgDecoder() {
  while (lines_.length() > 0) std::free(lines_.dequeue());
}

int SP_MultiLineMsgDecoder::decode(SP_Buffer* inputBuffer) {
  int taken = 0;
  for (char* line = inputBuffer->takeLine(); line != nullptr; line = inputBuffer->takeLine()) {
    lines_.enqueue(line);
    ++taken;
  }
  return taken > 0 ? MessageReady : NeedMoreData;
}

SP_DotTermMsgDecoder::~SP_DotTermMsgDecoder() { std::free(message_); }

int SP_DotTermMsgDecoder::decode(SP_Buffer* inputBuffer) {
  std::free(message_);
  message_ = nullptr;
  int termLen = 0;
  int at = findTerminator(inputBuffer, &termLen);
  if (at < 0) return NeedMoreData;
  message_ = takeFront(inputBuffer, at);
  if (message_ == nullptr) return NeedMoreData;
  sp_removeDotStuffing(message_, at);
  inputBuffer->drain(termLen);
  return MessageReady;
}

SP_DotTermChunkMsgDecoder::~SP_DotTermChunkMsgDecoder() { clearChunks(); }

void SP_DotTermChunkMsgDecoder::clearChunks() {
  for (int i = 0; i < chunks_.count(); ++i) delete static_cast<SP_Buffer*>(chunks_.takeItem(i));
  chunks_.clear();
}

int SP_DotTermChunkMsgDecoder::decode(SP_Buffer* inputBuffer) {
  if (inputBuffer->size() == 0) return NeedMoreData;
  int termLen = 0;
  int at = findTerminator(inputBuffer, &termLen);
  if (at >= 0) {
    if (at > 0) {
      SP_Buffer* chunk = new SP_Buffer();
      chunk->append(inputBuffer->rawBytes(), at);
      inputBuffer->drain(at);
      chunks_.append(chunk);
    }
    inputBuffer->drain(termLen);
    return MessageReady;
  }
  if (chunks_.count() > 0) {
    // The terminator may straddle the last chunk and the new input.
    SP_Buffer* last = static_cast<SP_Buffer*>(chunks_.takeItem(SP_ArrayList::LAST_INDEX));
    int prevLen = last->size() < 5 ? last->size() : 5;
    int nextLen = inputBuffer->size() < 5 ? inputBuffer->size() : 5;
    char window[10];
    std::memcpy(window, static_cast<const char*>(last->rawBytes()) + last->size() - prevLen,
                static_cast<size_t>(prevLen));
    std::memcpy(window + prevLen, inputBuffer->rawBytes(), static_cast<size_t>(nextLen));
    int k = findTerminator(window, prevLen + nextLen, &termLen);
    if (k >= 0) {
      int inChunk = prevLen - k;
      int inInput = termLen - inChunk;
      if (inChunk > 0 && inInput > 0 && inChunk < 5 && inInput < 5) {
        last->shrinkTo(last->size() - inChunk);
        inputBuffer->drain(inInput);
        return MessageReady;
      }
    }
  }
  if (inputBuffer->size() >= 0xF000) chunks_.append(inputBuffer->detach());
  inputBuffer->ensureRoom(65536);
  return NeedMoreData;
}

char* SP_DotTermChunkMsgDecoder::joinMessage() {
  size_t total = 0;
  for (int i = 0; i < chunks_.count(); ++i) total += static_cast<const SP_Buffer*>(chunks_.itemAt(i))->size();
  char* text = static_cast<char*>(std::malloc(total + 1));
  if (text == nullptr) return nullptr;
  size_t at = 0;
  for (int i = 0; i < chunks_.count(); ++i) {
    const SP_Buffer* chunk = static_cast<const SP_Buffer*>(chunks_.itemAt(i));
    if (chunk->size() > 0) std::memcpy(text + at, chunk->rawBytes(), static_cast<size_t>(chunk->size()));
    at += static_cast<size_t>(chunk->size());
  }
  text[total] = '\0';
  clearChunks();
  sp_removeDotStuffing(text, static_cast<int>(total));
  return text;
}
