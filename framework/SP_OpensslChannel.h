// The TLS channel: every session of a server whose channel factory is an
// SP_OpensslChannelFactory runs over TLS 1.0 to 1.2 with the anonymous
// Diffie-Hellman suite "ADH-AES128-SHA" (no certificate; the PC tools ask
// for exactly that suite) over the 2048-bit ffdhe2048 group. Public face of
// framework/.
#pragma once

#include "framework/SP_IOChannel.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

class SP_OpensslChannelFactory : public SP_IOChannelFactory {
 public:
  SP_OpensslChannelFactory() = default;
  ~SP_OpensslChannelFactory() override;
  SP_OpensslChannelFactory(const SP_OpensslChannelFactory&) = delete;
  SP_OpensslChannelFactory& operator=(const SP_OpensslChannelFactory&) = delete;

  // Builds the TLS context. Returns 0, or -1 (logged); a factory whose
  // set-up failed still works as a factory, and its handshakes fail.
  int setUp();
  // A new channel sharing the context (borrowed).
  SP_IOChannel* newChannel() override;

 private:
  SSL_CTX* ctx_ = nullptr;
};

class SP_OpensslChannel : public SP_IOChannel {
 public:
  explicit SP_OpensslChannel(SSL_CTX* ctx);
  ~SP_OpensslChannel() override;
  SP_OpensslChannel(const SP_OpensslChannel&) = delete;
  SP_OpensslChannel& operator=(const SP_OpensslChannel&) = delete;

  // Runs the whole handshake, blocking, on the calling work thread. 0 or -1.
  int attach(int socket) override;
  // Takes every decrypted byte the TLS layer holds, 4096 bytes per read.
  int readInto(SP_Session* session) override;
  // SSL_write of each range in order; stops at the first short write.
  int writeVector(const struct iovec* ranges, int count) override;
  int needsHandshake() const override { return 1; }

 private:
  SSL_CTX* ctx_;      // borrowed from the factory
  SSL* ssl_ = nullptr;
};
