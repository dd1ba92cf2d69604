// Message decoders: frame the bytes a session received into messages for
// SP_Handler::handle. decode() runs on the loop thread, takes the bytes it
// uses from the input and keeps the ready message until the next decode;
// the handler reads it through the decoder's own accessor. Public face of
// framework/.
#pragma once

#include "framework/SP_ArrayList.h"
#include "framework/SP_CircleQueue.h"

class SP_Buffer;

class SP_MsgDecoder {
 public:
  enum { MessageReady = 0, NeedMoreData = 1 };
  virtual ~SP_MsgDecoder() = default;
  virtual int decode(SP_Buffer* inputBuffer) = 0;
};

// A message is whatever arrived since the last decode; handlers do their
// own framing.
class SP_DefaultMsgDecoder : public SP_MsgDecoder {
 public:
  SP_DefaultMsgDecoder();
  ~SP_DefaultMsgDecoder() override;
  SP_DefaultMsgDecoder(const SP_DefaultMsgDecoder&) = delete;
  SP_DefaultMsgDecoder& operator=(const SP_DefaultMsgDecoder&) = delete;
  int decode(SP_Buffer* inputBuffer) override;
  SP_Buffer* getMsg() const { return messageBuffer_; }

 private:
  SP_Buffer* messageBuffer_;
};

// One line per message (CR, LF, CR LF or LF CR end it; dropped).
class SP_LineMsgDecoder : public SP_MsgDecoder {
 public:
  SP_LineMsgDecoder() = default;
  ~SP_LineMsgDecoder() override;
  SP_LineMsgDecoder(const SP_LineMsgDecoder&) = delete;
  SP_LineMsgDecoder& operator=(const SP_LineMsgDecoder&) = delete;
  int decode(SP_Buffer* inputBuffer) override;
  const char* getMsg() const { return line_; }

 private:
  char* line_ = nullptr;  // malloc'ed
};

// Every complete line received so far; the handler dequeues the lines and
// frees each one.
class SP_MultiLineMsgDecoder : public SP_MsgDecoder {
 public:
  SP_MultiLineMsgDecoder() = default;
  ~SP_MultiLineMsgDecoder() override;
  SP_MultiLineMsgDecoder(const SP_MultiLineMsgDecoder&) = delete;
  SP_MultiLineMsgDecoder& operator=(const SP_MultiLineMsgDecoder&) = delete;
  int decode(SP_Buffer* inputBuffer) override;
  SP_CircleQueue* getQueue() { return &lines_; }

 private:
  SP_CircleQueue lines_;  // of malloc'ed strings
};

// A message ends with "\r\n.\r\n" (or "\n.\n"); dot-stuffing is removed.
class SP_DotTermMsgDecoder : public SP_MsgDecoder {
 public:
  SP_DotTermMsgDecoder() = default;
  ~SP_DotTermMsgDecoder() override;
  SP_DotTermMsgDecoder(const SP_DotTermMsgDecoder&) = delete;
  SP_DotTermMsgDecoder& operator=(const SP_DotTermMsgDecoder&) = delete;
  int decode(SP_Buffer* inputBuffer) override;
  const char* getMsg() const { return message_; }

 private:
  char* message_ = nullptr;  // malloc'ed
};

// As SP_DotTermMsgDecoder for long messages: the bytes are kept in chunks
// without copying and joined once at the end.
class SP_DotTermChunkMsgDecoder : public SP_MsgDecoder {
 public:
  SP_DotTermChunkMsgDecoder() = default;
  ~SP_DotTermChunkMsgDecoder() override;
  SP_DotTermChunkMsgDecoder(const SP_DotTermChunkMsgDecoder&) = delete;
  SP_DotTermChunkMsgDecoder& operator=(const SP_DotTermChunkMsgDecoder&) = delete;
  int decode(SP_Buffer* inputBuffer) override;
  // All chunks as one malloc'ed, zero-terminated, unstuffed string (the
  // caller frees it); the chunks are released. Null when out of memory.
  char* joinMessage();
  int chunkCount() const { return chunks_.count(); }

 private:
  void clearChunks();
  SP_ArrayList chunks_;  // of SP_Buffer*, owned
};

// Removes dot-stuffing in place: from the second byte on, a '.' right
// after LF is dropped and the byte after it copied unexamined. Returns the
// new length; the text is zero-terminated.
int sp_removeDotStuffing(char* text, int length);
