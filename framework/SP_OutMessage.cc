#include "framework/SP_OutMessage.h"

#include "framework/SP_Buffer.h"
#include "framework/SP_MsgBlock.h"

SP_OutMessage::SP_OutMessage(int completionKey) : completionKey_(completionKey) {}

SP_OutMessage::~SP_OutMessage() {
  delete content_;
  if (blocks_ != nullptr) {
    for (int i = 0; i < blocks_->count(); ++i) delete static_cast<SP_MsgBlock*>(blocks_->takeItem(i));
    delete blocks_;
  }
  delete recipients_;
  delete delivered_;
  delete failed_;
}

SP_Buffer* SP_OutMessage::content() {
  if (content_ == nullptr) content_ = new SP_Buffer();
  return content_;
}

SP_ArrayList* SP_OutMessage::blocks() {
  if (blocks_ == nullptr) blocks_ = new SP_ArrayList();
  return blocks_;
}

SP_SessionIdList* SP_OutMessage::recipients() {
  if (recipients_ == nullptr) recipients_ = new SP_SessionIdList();
  return recipients_;
}

SP_SessionIdList* SP_OutMessage::delivered() {
  if (delivered_ == nullptr) delivered_ = new SP_SessionIdList();
  return delivered_;
}

SP_SessionIdList* SP_OutMessage::failed() {
  if (failed_ == nullptr) failed_ = new SP_SessionIdList();
  return failed_;
}

int SP_OutMessage::totalSize() const {
  int total = content_ != nullptr ? content_->size() : 0;
  if (blocks_ != nullptr) {
    for (int i = 0; i < blocks_->count(); ++i) {
      total += static_cast<const SP_MsgBlock*>(blocks_->itemAt(i))->size();
    }
  }
  return total;
}
