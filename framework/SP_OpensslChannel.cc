#include "framework/SP_OpensslChannel.h"

#include <errno.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/ssl.h>

#include <cstring>

#include "framework/SP_Buffer.h"
#include "framework/SP_IOUtils.h"
#include "framework/SP_Log.h"
#include "framework/SP_Session.h"

namespace {

const char kCipher[] = "ADH-AES128-SHA";

void errorText(char* text, size_t size) {
  ERR_error_string_n(ERR_get_error(), text, size);
}

// The RFC 7919 ffdhe2048 group by name. A 512-bit group would let anyone
// on the network path recover the session keys (and the administrator
// passwords sent over the admin port).
EVP_PKEY* newDhGroup() {
  EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
  if (pctx == nullptr) return nullptr;
  EVP_PKEY* pkey = nullptr;
  char group[] = "ffdhe2048";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0), OSSL_PARAM_construct_end()};
  if (EVP_PKEY_fromdata_init(pctx) <= 0 || EVP_PKEY_fromdata(pctx, &pkey, EVP_PKEY_KEY_PARAMETERS, params) <= 0) {
    pkey = nullptr;
  }
  EVP_PKEY_CTX_free(pctx);
  return pkey;
}

}  // namespace

SP_OpensslChannelFactory::~SP_OpensslChannelFactory() {
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

int SP_OpensslChannelFactory::setUp() {
  char text[256];
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  if (ctx_ != nullptr) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  ctx_ = SSL_CTX_new(TLS_server_method());
  if (ctx_ == nullptr) {
    errorText(text, sizeof(text));
    sp_syslog(LOG_WARNING, "SSL_CTX_new fail, %s", text);
    return -1;
  }
  // TLS 1.0 stays for the older PC tools; nothing below it, nothing that
  // would drop the anonymous suite (TLS 1.3 has none).
  SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION);
  // The anonymous suite and TLS 1.0 are below every higher security level;
  // lowered on this context only.
  SSL_CTX_set_security_level(ctx_, 0);
  SSL_CTX_set_options(ctx_, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SSLv3 | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

  int failed = 0;
  EVP_PKEY* dh = newDhGroup();
  if (dh == nullptr || SSL_CTX_set0_tmp_dh_pkey(ctx_, dh) != 1) {
    errorText(text, sizeof(text));
    sp_syslog(LOG_WARNING, "SSL_CTX_set_tmp_dh fail, %s", text);
    if (dh != nullptr) EVP_PKEY_free(dh);
    failed = 1;
  }
  if (SSL_CTX_set_cipher_list(ctx_, kCipher) != 1) {
    errorText(text, sizeof(text));
    sp_syslog(LOG_WARNING, "SSL_CTX_set_cipher_list fail, %s", text);
    return -1;
  }
  return failed ? -1 : 0;
}

SP_IOChannel* SP_OpensslChannelFactory::newChannel() { return new SP_OpensslChannel(ctx_); }

SP_OpensslChannel::SP_OpensslChannel(SSL_CTX* ctx) : ctx_(ctx) {}

SP_OpensslChannel::~SP_OpensslChannel() {
  if (ssl_ != nullptr) SSL_free(ssl_);
}

int SP_OpensslChannel::attach(int socket) {
  char text[256];
  ERR_clear_error();
  if (ctx_ == nullptr || (ssl_ = SSL_new(ctx_)) == nullptr || SSL_set_fd(ssl_, socket) != 1) {
    errorText(text, sizeof(text));
    sp_syslog(LOG_EMERG, "SSL_accept fail, %s", text);
    return -1;
  }
  SP_IOUtils::setBlocking(socket);
  if (SSL_accept(ssl_) < 1) {
    errorText(text, sizeof(text));
    sp_syslog(LOG_EMERG, "SSL_accept fail, %s", text);
    return -1;
  }
  SP_IOUtils::setNonBlocking(socket);
  sp_syslog(LOG_NOTICE, "SSL connection using %s", SSL_get_cipher(ssl_));

  X509* cert = SSL_get1_peer_certificate(ssl_);
  if (cert == nullptr) {
    sp_syslog(LOG_WARNING, "Client does not have certificate");
    return 0;
  }
  sp_syslog(LOG_NOTICE, "Client certificate:");
  char* subject = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
  sp_syslog(LOG_NOTICE, "subject: %s", subject != nullptr ? subject : "");
  OPENSSL_free(subject);
  char* issuer = X509_NAME_oneline(X509_get_issuer_name(cert), nullptr, 0);
  sp_syslog(LOG_NOTICE, "issuer: %s", issuer != nullptr ? issuer : "");
  OPENSSL_free(issuer);
  X509_free(cert);
  return 0;
}

int SP_OpensslChannel::readInto(SP_Session* session) {
  if (ssl_ == nullptr) {
    errno = ENOTCONN;
    return -1;
  }
  int total = 0;
  for (;;) {
    char data[4096];
    std::memset(data, 0, sizeof(data));
    ERR_clear_error();
    int n = SSL_read(ssl_, data, sizeof(data));
    if (n > 0) {
      session->inputBuffer()->append(data, n);
      total += n;
      // The loop hears only of socket readiness: take what the TLS layer
      // has already decrypted now.
      if (SSL_pending(ssl_) > 0) continue;
      return total;
    }
    if (total > 0) return total;
    int reason = SSL_get_error(ssl_, n);
    if (n == 0 || reason == SSL_ERROR_ZERO_RETURN) {
      errno = 0;
      return 0;
    }
    char text[4096];
    errorText(text, sizeof(text));
    sp_syslog(LOG_EMERG, "SSL_read fail, %s", text);
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
      errno = EAGAIN;  // only waiting for the rest of a record
      return n;
    }
    if (errno == 0 || errno == EAGAIN) errno = EIO;
    return n;
  }
}

int SP_OpensslChannel::writeVector(const struct iovec* ranges, int count) {
  if (ssl_ == nullptr) {
    errno = ENOTCONN;
    return -1;
  }
  int total = 0;
  for (int i = 0; i < count; ++i) {
    int len = static_cast<int>(ranges[i].iov_len);
    ERR_clear_error();
    int n = SSL_write(ssl_, ranges[i].iov_base, len);
    if (n > 0) total += n;
    if (n != len) {
      if (n <= 0) {
        int reason = SSL_get_error(ssl_, n);
        if (reason == SSL_ERROR_WANT_WRITE || reason == SSL_ERROR_WANT_READ) {
          errno = EAGAIN;
        } else if (errno == 0 || errno == EAGAIN) {
          errno = EPIPE;
        }
      }
      break;
    }
  }
  return total;
}
