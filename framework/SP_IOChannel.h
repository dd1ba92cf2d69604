// How a session reads and writes: the channel interface, the plain socket
// channel and their factories. The TLS channel lives in SP_OpensslChannel.h.
// Public face of framework/.
#pragma once

#include <sys/uio.h>

class SP_Session;

class SP_IOChannel {
 public:
  virtual ~SP_IOChannel() = default;
  // Binds the channel to the accepted socket (borrowed; the session closes
  // it) and sets up the transport. Runs on a work thread. 0 on success.
  virtual int attach(int socket) = 0;
  // Reads what is available into the session's input buffer: the count, 0
  // at end of stream, negative on error with errno set (EAGAIN: nothing
  // there yet).
  virtual int readInto(SP_Session* session) = 0;
  // Writes as much of the session's output list as the channel takes; the
  // common writer, channels do not replace it. Loop thread only.
  virtual int flushOutput(SP_Session* session);
  // Writes up to 8 ranges in order as writev does: bytes written, or a
  // negative value with errno set.
  virtual int writeVector(const struct iovec* ranges, int count) = 0;
  // Non-zero when attach runs a handshake that a refused connection must
  // not get; such a connection is closed without its refusal text.
  virtual int needsHandshake() const { return 0; }
};

class SP_IOChannelFactory {
 public:
  virtual ~SP_IOChannelFactory() = default;
  virtual SP_IOChannel* newChannel() = 0;
};

// The plain socket channel.
class SP_DefaultIOChannel : public SP_IOChannel {
 public:
  SP_DefaultIOChannel() = default;
  SP_DefaultIOChannel(const SP_DefaultIOChannel&) = delete;
  SP_DefaultIOChannel& operator=(const SP_DefaultIOChannel&) = delete;
  // Records the socket; never fails.
  int attach(int socket) override;
  int readInto(SP_Session* session) override;
  int writeVector(const struct iovec* ranges, int count) override;

 private:
  int socket_ = -1;  // borrowed from the session
};

class SP_DefaultIOChannelFactory : public SP_IOChannelFactory {
 public:
  SP_IOChannel* newChannel() override;
};
