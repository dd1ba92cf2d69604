// An outgoing message to one or more sessions: content, extra blocks, the
// recipients still to serve and who was served or failed. Created by a
// handler, shared by the recipients' output lists on the loop thread, then
// owned by the completion handler. Public face of framework/.
#pragma once

#include "framework/SP_ArrayList.h"
#include "framework/SP_SessionId.h"

class SP_Buffer;
class SP_MsgBlock;

class SP_OutMessage {
 public:
  explicit SP_OutMessage(int completionKey = 0);
  ~SP_OutMessage();
  SP_OutMessage(const SP_OutMessage&) = delete;
  SP_OutMessage& operator=(const SP_OutMessage&) = delete;

  // Each part is created on first access and owned by the message.
  SP_Buffer* content();
  SP_ArrayList* blocks();  // of SP_MsgBlock*, owned
  SP_SessionIdList* recipients();
  SP_SessionIdList* delivered();
  SP_SessionIdList* failed();

  // Appends a block (owned from now on).
  void addBlock(SP_MsgBlock* block) { blocks()->append(block); }
  int completionKey() const { return completionKey_; }
  void setCompletionKey(int key) { completionKey_ = key; }

  // Content size plus all block sizes.
  int totalSize() const;
  // Parts without creating them (null when never used).
  SP_Buffer* contentIfAny() const { return content_; }
  SP_ArrayList* blocksIfAny() const { return blocks_; }

 private:
  SP_Buffer* content_ = nullptr;
  SP_ArrayList* blocks_ = nullptr;
  SP_SessionIdList* recipients_ = nullptr;
  SP_SessionIdList* delivered_ = nullptr;
  SP_SessionIdList* failed_ = nullptr;
  int completionKey_;
};
