#include <gtest/gtest.h>

#include "net/NetSDKService.h"
#include "net/NetSpoolService.h"
#include "net/TvnpCommands.h"
#include "tests/unit/net/EngineFixture.h"
#include "tools/client/TvnpClient.h"

namespace tavik::test {
namespace {


using client::TvnpConnection;

class NetServicesTest : public EngineFixture {
 protected:
  // Ports of their own, away from the module's fixed ones.
  int basePort() const { return 30000 + int(getpid() % 10000) * 2; }

  bool answers(int port, bool tls) {
    TvnpConnection c;
    c.setReceiveTimeout(3000);
    if (c.connect("127.0.0.1", uint16_t(port), tls) < 0) return false;
    client::Reply r;
    return c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r) == 0 && r.ok();
  }
};

TEST_F(NetServicesTest, StopBeforeStartDoesNothing) {
  NetSDKService sdk;
  NetSpoolService spool;
  EXPECT_FALSE(sdk.isRunning());
  sdk.stop();
  spool.stop();
  EXPECT_FALSE(spool.isRunning());
}

TEST_F(NetServicesTest, SdkServesPlainOrTlsAsConfigured) {
  for (int ssl : {0, 1}) {
    SCOPED_TRACE(ssl);
    service.sdk_port = basePort();
    service.sdk_ssl = ssl;
    service.sdk_timeout = 500;  // below a second: the server's default stays
    startModule();
    NetSDKService sdk;
    ASSERT_EQ(sdk.start(*port_, *logger_, *config_), 0);
    EXPECT_TRUE(sdk.isRunning());
    EXPECT_EQ(answers(service.sdk_port, ssl != 0), true);
    EXPECT_EQ(answers(service.sdk_port, ssl == 0), false);
    // Several exchanges on one connection.
    TvnpConnection c;
    ASSERT_EQ(c.connect("127.0.0.1", uint16_t(service.sdk_port), ssl != 0), 0);
    for (int i = 0; i < 3; ++i) {
      client::Reply r;
      ASSERT_EQ(c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0) << c.error();
      EXPECT_TRUE(r.ok());
    }
    sdk.stop();
    EXPECT_FALSE(sdk.isRunning());
  }
}

TEST_F(NetServicesTest, SdkAnswersRawCommandsSentTogether) {
  service.sdk_port = basePort();
  service.sdk_ssl = 0;
  startModule();
  NetSDKService sdk;
  ASSERT_EQ(sdk.start(*port_, *logger_, *config_), 0);
  TvnpConnection c;
  ASSERT_EQ(c.connect("127.0.0.1", uint16_t(service.sdk_port), false), 0);
  const uint8_t status[] = {0x00, 0x00, 0x00};
  const uint8_t ext[] = {0x02, 0x00, 0x00};
  auto a = tvnp::buildRawFrame('C', 'C', 0, 0, status, 3);
  auto b = tvnp::buildRawFrame('C', 'C', 0, 0, ext, 3);
  a.insert(a.end(), b.begin(), b.end());
  ASSERT_EQ(c.sendAll(a), 0);
  uint8_t reply[8 + 12 + 8 + 16];
  ASSERT_EQ(c.readExact(reply, sizeof reply), 0) << c.error();
  EXPECT_EQ(tvnp::loadU32(reply + 4), 20u);
  EXPECT_EQ(reply[20], 'C');
  EXPECT_EQ(tvnp::loadU32(reply + 24), 24u);
  // And a TVNP request after them on the same connection.
  client::Reply r;
  ASSERT_EQ(c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0) << c.error();
  EXPECT_TRUE(r.ok());
}

TEST_F(NetServicesTest, IdleTimeOutsInWholeSeconds) {
  struct Case {
    int ms;
    int seconds;
  } cases[] = {{500, 600}, {300000, 300}, {1999, 1}};
  for (const auto& c : cases) {
    service.spool_port = basePort();
    service.spool_timeout = c.ms;
    startModule();
    NetSpoolService spool;
    ASSERT_EQ(spool.start(*port_, *logger_, *config_), 0);
    EXPECT_EQ(spool.sessionTimeout(), c.seconds) << c.ms;
  }
}

TEST_F(NetServicesTest, APortInUseFailsTheStart) {
  service.sdk_port = basePort() + 1;
  service.sdk_ssl = 0;
  startModule();
  NetSDKService first, second;
  ASSERT_EQ(first.start(*port_, *logger_, *config_), 0);
  EXPECT_EQ(second.start(*port_, *logger_, *config_), -1);
  EXPECT_FALSE(second.isRunning());
  EXPECT_TRUE(first.isRunning());
}

TEST_F(NetServicesTest, SpoolAnswersOneRequestPerConnection) {
  service.spool_port = basePort();
  startModule();
  NetSpoolService spool;
  ASSERT_EQ(spool.start(*port_, *logger_, *config_), 0);
  TvnpConnection c;
  ASSERT_EQ(c.connect("127.0.0.1", uint16_t(service.spool_port), false), 0);
  client::Reply r;
  ASSERT_EQ(c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0);
  EXPECT_TRUE(r.ok());
  EXPECT_NE(c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r), 0);
  EXPECT_TRUE(c.waitClosed(5000));
  // A raw command on its own connection is answered too.
  TvnpConnection raw;
  ASSERT_EQ(raw.connect("127.0.0.1", uint16_t(service.spool_port), false), 0);
  std::vector<uint8_t> answer;
  ASSERT_EQ(raw.rawCommand({0x00, 0x00, 0x00}, &answer), 0) << raw.error();
  EXPECT_EQ(answer.size(), 12u);
}

}  // namespace
}  // namespace tavik::test
