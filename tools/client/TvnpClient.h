// PC-side TVNP client: one connection to a module's spool, SDK or admin
// port, plain TCP or TLS with the anonymous suite the module offers, and the
// request/reply, raw command and raw print exchanges. Public face of
// tools/client; tavikctl and the end-to-end tests are built on it.
// Every call returns 0 (or a byte count) on success and -1 on failure, with
// the reason in error().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/TvnpPacket.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace tavik::client {

// A decoded reply packet.
struct Reply {
  tvnp::Header header;
  std::vector<std::vector<uint8_t>> args;

  // Argument 0, or 0xFFFFFFFF when it is missing or short.
  uint32_t result() const;
  // Error bits besides the reply bit.
  uint16_t errorFlags() const { return uint16_t(header.flags & ~tvnp::kFlagReply); }
  bool ok() const { return header.flags == tvnp::kFlagReply && result() == 0; }
  // Argument i as an integer / text; false when missing or malformed.
  bool u32(size_t i, uint32_t* out) const;
  bool text(size_t i, std::string* out) const;
};

class TvnpConnection {
 public:
  TvnpConnection();
  ~TvnpConnection();
  TvnpConnection(const TvnpConnection&) = delete;
  TvnpConnection& operator=(const TvnpConnection&) = delete;

  // Connects (and with tls, runs the handshake) within timeoutMs.
  int connect(const std::string& host, uint16_t port, bool tls, int timeoutMs = 5000);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends a request and waits for its reply. The sequence number is chosen
  // here unless given; a reply carrying another sequence is an error.
  int request(uint16_t command, const std::vector<std::vector<uint8_t>>& args, Reply* reply);
  int request(uint16_t command, const std::vector<std::vector<uint8_t>>& args, Reply* reply,
              uint32_t sequence);
  // Reads one reply packet (after sendAll of a hand-made request).
  int readReply(Reply* reply);

  // One "CC" exchange: sends the printer command in a raw command frame and
  // returns the printer's answer from the reply frame.
  int rawCommand(const std::vector<uint8_t>& command, std::vector<uint8_t>* answer);

  // Sends bytes as they are; progress(sent, total) is called as they go.
  int sendAll(const uint8_t* data, size_t size,
              const std::function<void(size_t, size_t)>& progress = nullptr);
  int sendAll(const std::vector<uint8_t>& data) { return sendAll(data.data(), data.size()); }
  // Reads exactly size bytes within the receive time-out.
  int readExact(uint8_t* data, size_t size);
  // Ends the sending direction (plain TCP: shutdown; TLS: close_notify).
  void finishSending();
  // Waits until the module closes the connection; true when it did within
  // timeoutMs (any bytes that arrive meanwhile are counted in *extra).
  bool waitClosed(int timeoutMs, size_t* extra = nullptr);

  void setReceiveTimeout(int ms) { receiveTimeoutMs_ = ms; }
  const std::string& error() const { return error_; }

 private:
  int fail(const std::string& what);
  int readSome(uint8_t* data, size_t size, int timeoutMs);
  int waitFd(short events, int timeoutMs);

  int fd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  uint32_t nextSequence_ = 1;
  int receiveTimeoutMs_ = 30000;
  std::string error_;
};

}  // namespace tavik::client
