// The TLS channel with real handshakes: an in-process OpenSSL client that
// offers the anonymous suite at TLS 1.0 and at TLS 1.2, one that offers only
// certificate suites, a plain client, and the openssl command-line client.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "framework/SP_Buffer.h"
#include "framework/SP_OpensslChannel.h"
#include "framework/SP_OutMessage.h"
#include "framework/SP_Server.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/framework/FrameworkTestUtil.h"
#include "tests/unit/framework/TestHandlers.h"

namespace {

using fwtest::Behaviour;
using fwtest::LogCapture;
using fwtest::TestServer;

void useTls(SP_Server* server) {
  SP_OpensslChannelFactory* factory = new SP_OpensslChannelFactory();
  EXPECT_EQ(0, factory->setUp());
  server->setChannelFactory(factory);
}

Behaviour greeting(const std::string& text) {
  Behaviour behaviour;
  behaviour.greeting = text;
  return behaviour;
}

// A blocking TLS client over a loopback socket.
class TlsClient {
 public:
  TlsClient(int port, int version, const char* ciphers) : fd_(fwtest::connectTo(port)) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx_, version);
    SSL_CTX_set_max_proto_version(ctx_, version);
    SSL_CTX_set_security_level(ctx_, 0);
    SSL_CTX_set_cipher_list(ctx_, ciphers);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(ctx_);
    if (fd_ >= 0) SSL_set_fd(ssl_, fd_);
  }
  ~TlsClient() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
  }
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  bool handshake() { return fd_ >= 0 && SSL_connect(ssl_) == 1; }
  bool write(const std::string& data) {
    return SSL_write(ssl_, data.data(), static_cast<int>(data.size())) == static_cast<int>(data.size());
  }
  std::string read(size_t want) {
    std::string got;
    char data[16384];
    while (got.size() < want) {
      int n = SSL_read(ssl_, data, sizeof(data));
      if (n <= 0) break;
      got.append(data, static_cast<size_t>(n));
    }
    return got;
  }
  std::string cipher() const { return SSL_get_cipher(ssl_); }
  int version() const { return SSL_version(ssl_); }
  int fd() const { return fd_; }

 private:
  int fd_;
  SSL_CTX* ctx_;
  SSL* ssl_;
};

struct VersionCase {
  int version;
  const char* name;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class TlsVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(TlsVersionTest, HandshakeEchoAndLogLines) {
  LogCapture logs;
  TestServer ts(greeting("hello\r\n"), useTls);
  ASSERT_TRUE(ts.ready());
  TlsClient client(ts.port(), GetParam().version, "ADH-AES128-SHA");
  ASSERT_TRUE(client.handshake()) << logs.dump();
  EXPECT_EQ(GetParam().version, client.version());
  EXPECT_EQ("ADH-AES128-SHA", client.cipher());
  EXPECT_EQ("hello\r\n", client.read(7));
  ASSERT_TRUE(client.write("ping"));
  EXPECT_EQ("ping", client.read(4));
  // A request larger than one TLS record (and than one 4096-byte read).
  std::string big(40000, 'b');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(client.write(big));
  EXPECT_EQ(big, client.read(big.size()));
  EXPECT_TRUE(logs.contains("SSL connection using ADH-AES128-SHA"));
  EXPECT_EQ(LOG_NOTICE, logs.priorityOf("SSL connection using"));
  EXPECT_EQ(LOG_WARNING, logs.priorityOf("Client does not have certificate"));
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsVersionTest,
                         ::testing::Values(VersionCase{TLS1_VERSION, "tls1"}, VersionCase{TLS1_2_VERSION, "tls1_2"}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(TlsTest, ClientWithOnlyCertificateSuitesFailsWithoutOutput) {
  LogCapture logs;
  TestServer ts(greeting("hello\r\n"), useTls);
  ASSERT_TRUE(ts.ready());
  TlsClient client(ts.port(), TLS1_2_VERSION, "AES128-SHA:ECDHE-RSA-AES128-GCM-SHA256");
  EXPECT_FALSE(client.handshake());
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ((std::vector<std::string>{"created", "start", "id:1024.0", "peer:127.0.0.1", "close"}), ts.recorder().events());
  EXPECT_TRUE(logs.waitFor("SSL_accept fail, "));
  EXPECT_EQ(LOG_EMERG, logs.priorityOf("SSL_accept fail, "));
  EXPECT_FALSE(logs.contains("SSL connection using"));
}

TEST(TlsTest, PlainClientFailsTheHandshakeAndGetsNoReply) {
  LogCapture logs;
  TestServer ts(greeting("hello\r\n"), useTls);
  ASSERT_TRUE(ts.ready());
  int fd = fwtest::connectTo(ts.port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(fwtest::sendAll(fd, "GET / HTTP/1.0\r\n\r\n"));
  bool closed = false;
  std::string got = fwtest::readToEnd(fd, &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_EQ(std::string::npos, got.find("hello"));
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  EXPECT_EQ(0, ts.recorder().count("handle:GET / HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(logs.waitFor("SSL_accept fail, "));
}

TEST(TlsTest, RefusedConnectionIsClosedWithoutHandshake) {
  LogCapture logs;
  TestServer ts(greeting("hello\r\n"), [](SP_Server* s) {
    useTls(s);
    s->setConnectionLimit(1);
  });
  ASSERT_TRUE(ts.ready());
  TlsClient first(ts.port(), TLS1_2_VERSION, "ADH-AES128-SHA");
  ASSERT_TRUE(first.handshake());
  TlsClient second(ts.port(), TLS1_2_VERSION, "ADH-AES128-SHA");
  EXPECT_FALSE(second.handshake());
  ASSERT_TRUE(ts.recorder().waitCount("close", 1));
  // The first session's start follows its handshake on the server side.
  ASSERT_TRUE(ts.recorder().waitCount("start", 1));
  EXPECT_TRUE(logs.contains("System busy, session.count 2 [1]"));
  EXPECT_TRUE(logs.waitFor("SSL connection using"));
  EXPECT_EQ(1, ts.recorder().count("start"));
  EXPECT_EQ(1, logs.count("SSL connection using"));
}

TEST(TlsTest, SilentClientDoesNotHoldAWorkerBeyondTheTimeout) {
  LogCapture logs;
  TestServer ts(greeting("hello\r\n"), [](SP_Server* s) {
    useTls(s);
    s->setSessionTimeout(1);
  });
  ASSERT_TRUE(ts.ready());
  int fd = fwtest::connectTo(ts.port());  // never says a word
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(ts.recorder().waitCount("close", 1, std::chrono::seconds(30)));
  EXPECT_TRUE(logs.contains("SSL_accept fail, "));
  ::close(fd);
}

TEST(TlsTest, OpensslCommandLineClientAtTls10) {
  LogCapture logs;
  Behaviour behaviour = greeting("hello\r\n");
  behaviour.onHandle = [](const std::string& text, SP_HandlerOutput* output) {
    output->replyMessage()->content()->append(("echo:" + text).c_str(), 0);
    return 1;  // ends the session so the client exits
  };
  TestServer ts(behaviour, useTls);
  ASSERT_TRUE(ts.ready());
  std::string command = "echo ping | timeout 60 openssl s_client -connect 127.0.0.1:" + std::to_string(ts.port()) +
                        " -tls1 -cipher 'ADH-AES128-SHA:@SECLEVEL=0' -ign_eof 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::string out;
  char data[4096];
  size_t n;
  while ((n = std::fread(data, 1, sizeof(data), pipe)) > 0) out.append(data, n);
  ::pclose(pipe);
  EXPECT_NE(std::string::npos, out.find("Cipher is ADH-AES128-SHA")) << out;
  EXPECT_NE(std::string::npos, out.find("Protocol  : TLSv1\n")) << out;
  EXPECT_NE(std::string::npos, out.find("echo:ping")) << out;
  EXPECT_TRUE(logs.waitFor("Client does not have certificate"));
}

}  // namespace
