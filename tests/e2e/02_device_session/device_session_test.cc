// Opening the printer per connection on the SDK and admin ports.
#include <gtest/gtest.h>

#include "net/TvnpCommands.h"
#include "tests/support/FirmwareProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/client/TvnpClient.h"

namespace tavik::test {
namespace {

using client::Reply;
using client::TvnpConnection;

std::string printerIdOf(TvnpConnection& c) {
  Reply r;
  if (c.request(tvcid::kRawGetData, {{0x50, 0x06, 0x00}}, &r) < 0 || r.args.size() < 2) return "";
  return std::string(r.args[1].begin(), r.args[1].end()).c_str();
}

uint16_t openFlags(TvnpConnection& c, const std::string& id, uint32_t* handle = nullptr) {
  Reply r;
  if (c.request(tvcid::kOpenDevice, {tvnp::encodeText(id)}, &r) < 0) return 0xFFFF;
  if (handle != nullptr) r.u32(1, handle);
  return r.header.flags;
}

TEST(DeviceSession, BusyWhileHeldAndFreeOnceTheHolderDrops) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.sdk_ssl = 0;
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  auto holder = std::make_unique<TvnpConnection>();
  ASSERT_EQ(holder->connect(fw.address(), 11110, false), 0) << holder->error();
  std::string id = printerIdOf(*holder);
  ASSERT_FALSE(id.empty());
  uint32_t handle = 0;
  ASSERT_EQ(openFlags(*holder, id, &handle), 0x0002);
  EXPECT_GE(handle, 10u);

  TvnpConnection other;
  ASSERT_EQ(other.connect(fw.address(), 11110, false), 0) << other.error();
  EXPECT_EQ(openFlags(other, id), 0x8002);
  // Status works without the printer: monitoring tools poll it.
  Reply st;
  ASSERT_EQ(other.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &st), 0);
  EXPECT_TRUE(st.ok());

  holder.reset();  // drops without closing the device
  EXPECT_TRUE(waitFor([&] { return openFlags(other, id) == 0x0002; }));
}

TEST(DeviceSession, RequestsOneAfterAnotherOnTheSdkPort) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.sdk_ssl = 0;
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  TvnpConnection c;
  ASSERT_EQ(c.connect(fw.address(), 11110, false), 0);
  for (uint32_t seq : {1u, 0xFFFFFFFFu, 77u}) {
    Reply r;
    ASSERT_EQ(c.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r, seq), 0) << c.error();
    EXPECT_EQ(r.header.sequence, seq);
    EXPECT_TRUE(r.ok());
  }
  Reply bad;
  ASSERT_EQ(c.request(300, {tvnp::encodeU32(0)}, &bad), 0);
  EXPECT_EQ(bad.header.flags, 0x0802);
}

TEST(DeviceSession, AdminPortNeedsTlsAndSdkFollowsItsSetting) {
  FirmwareProcess fw;  // defaults: SDK with TLS
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  struct Case {
    int port;
    bool tls;
    bool answers;
  } cases[] = {{11111, false, false}, {11111, true, true}, {11110, true, true}, {11110, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.port) + (c.tls ? " tls" : " plain"));
    TvnpConnection conn;
    conn.setReceiveTimeout(3000);
    ASSERT_EQ(conn.connect(fw.address(), uint16_t(c.port), c.tls), 0) << conn.error();
    Reply r;
    bool answered = conn.request(tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r) == 0 && r.ok();
    EXPECT_EQ(answered, c.answers) << conn.error();
  }
}

TEST(DeviceSession, TavikctlStatusOpenAndClose) {
  FirmwareProcess fw;
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  std::string out;
  ASSERT_EQ(fw.tavikctl("status", &out), 0) << out;
  EXPECT_NE(out.find("status word A"), std::string::npos) << out;
  ASSERT_EQ(fw.tavikctl("--json open close", &out), 0) << out;
  EXPECT_NE(out.find("\"command\":\"open\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"handle\":"), std::string::npos) << out;
  ASSERT_EQ(fw.tavikctl("discover --to " + fw.address(), &out), 0) << out;
  EXPECT_NE(out.find(fw.address()), std::string::npos) << out;
  EXPECT_NE(out.find("admin 11111 TLS, sdk 11110 TLS, spool 9100"), std::string::npos) << out;
}

TEST(DeviceSession, SigtermStopsEverythingInOrder) {
  FirmwareProcess fw;
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  TvnpConnection c;  // a connection still open at the stop
  ASSERT_EQ(c.connect(fw.address(), 11111, true), 0) << c.error();
  EXPECT_EQ(fw.stopServer(), 0) << fw.log();
  EXPECT_NE(fw.log().find("TavikServer Terminated"), std::string::npos) << fw.log();
  EXPECT_TRUE(c.waitClosed(5000));
}

}  // namespace
}  // namespace tavik::test
