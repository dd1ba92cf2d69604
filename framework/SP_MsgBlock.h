// Extra payload pieces of an outgoing message, written after its content in
// list order. Not thread-safe. Public face of framework/.
#pragma once

class SP_Buffer;

class SP_MsgBlock {
 public:
  virtual ~SP_MsgBlock() = default;
  virtual const void* data() const = 0;
  virtual int size() const = 0;
};

// A block over caller memory; when `owns` is set the memory came from
// malloc and is freed with free.
class SP_SimpleMsgBlock : public SP_MsgBlock {
 public:
  SP_SimpleMsgBlock() = default;
  SP_SimpleMsgBlock(void* data, int size, int owns);
  ~SP_SimpleMsgBlock() override;
  SP_SimpleMsgBlock(const SP_SimpleMsgBlock&) = delete;
  SP_SimpleMsgBlock& operator=(const SP_SimpleMsgBlock&) = delete;

  const void* data() const override { return data_; }
  int size() const override { return size_; }
  // Frees the current data when owned, then stores the new values.
  void reset(void* data, int size, int owns);

 private:
  void* data_ = nullptr;
  int size_ = 0;
  int owns_ = 0;
};

// A block over an SP_Buffer, its own or a caller's.
class SP_BufferMsgBlock : public SP_MsgBlock {
 public:
  SP_BufferMsgBlock();
  SP_BufferMsgBlock(SP_Buffer* buffer, int owns);
  ~SP_BufferMsgBlock() override;
  SP_BufferMsgBlock(const SP_BufferMsgBlock&) = delete;
  SP_BufferMsgBlock& operator=(const SP_BufferMsgBlock&) = delete;

  const void* data() const override;
  int size() const override;
  // Same rules as SP_Buffer::append.
  int append(const void* data, int length = 0);
  SP_Buffer* buffer() const { return buffer_; }

 private:
  SP_Buffer* buffer_;
  int owns_;
};
