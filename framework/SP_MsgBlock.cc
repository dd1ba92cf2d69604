#include "framework/SP_MsgBlock.h"

#include <cstdlib>

#include "framework/SP_Buffer.h"

SP_SimpleMsgBlock::SP_SimpleMsgBlock(void* data, int size, int owns) : data_(data), size_(size), owns_(owns) {}

SP_SimpleMsgBlock::~SP_SimpleMsgBlock() {
  if (owns_ && data_ != nullptr) std::free(data_);
}

void SP_SimpleMsgBlock::reset(void* data, int size, int owns) {
  if (owns_ && data_ != nullptr) std::free(data_);
  data_ = data;
  size_ = size;
  owns_ = owns;
}

SP_BufferMsgBlock::SP_BufferMsgBlock() : buffer_(new SP_Buffer()), owns_(1) {}

SP_BufferMsgBlock::SP_BufferMsgBlock(SP_Buffer* buffer, int owns) : buffer_(buffer), owns_(owns) {}

SP_BufferMsgBlock::~SP_BufferMsgBlock() {
  if (owns_) delete buffer_;
}

const void* SP_BufferMsgBlock::data() const { return buffer_ != nullptr ? buffer_->bytes() : nullptr; }

int SP_BufferMsgBlock::size() const { return buffer_ != nullptr ? buffer_->size() : 0; }

int SP_BufferMsgBlock::append(const void* data, int length) {
  return buffer_ != nullptr ? buffer_->append(data, length) : -1;
}
