// A card job over the network, seen from the printer's side.
#include <gtest/gtest.h>

#include "net/TvnpCommands.h"
#include "tests/support/FirmwareProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/client/TvnpClient.h"

namespace tavik::test {
namespace {

using client::Reply;
using client::TvnpConnection;

TEST(CardTransport, OpenCardInMoveOutCloseReachesThePrinterInOrder) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.sdk_ssl = 0;
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  TvnpConnection c;
  ASSERT_EQ(c.connect(fw.address(), 11110, false), 0);
  Reply r;
  ASSERT_EQ(c.request(tvcid::kRawGetData, {{0x50, 0x06, 0x00}}, &r), 0);
  std::string id = std::string(r.args.at(1).begin(), r.args.at(1).end()).c_str();
  ASSERT_EQ(c.request(tvcid::kOpenDevice, {tvnp::encodeText(id)}, &r), 0);
  uint32_t h = 0;
  ASSERT_TRUE(r.ok() && r.u32(1, &h));
  auto H = tvnp::encodeU32(h);
  size_t start = fw.transcript().size();
  struct Step {
    uint16_t id;
    std::vector<std::vector<uint8_t>> args;
    const char* frame;
  } steps[] = {
      {tvcid::kCardIn, {H}, "in=400100"},
      {tvcid::kMove, {H, tvnp::encodeU32(2)}, "in=400700"},
      {tvcid::kCardOut, {H}, "in=400200"},
      {tvcid::kCloseDevice, {H}, nullptr},
  };
  for (const auto& step : steps) {
    ASSERT_EQ(c.request(step.id, step.args, &r), 0) << c.error();
    EXPECT_TRUE(r.ok()) << step.id << " flags " << r.header.flags << " result " << r.result();
  }
  std::string t = fw.transcript().substr(start);
  size_t last = 0;
  for (const auto& step : steps) {
    if (step.frame == nullptr) continue;
    size_t at = t.find(step.frame, last);
    ASSERT_NE(at, std::string::npos) << step.frame << "\n" << t;
    last = at;
  }
}

TEST(CardTransport, TavikctlRunsAJobOnOneConnection) {
  FirmwareProcess fw;  // SDK with TLS, found by discovery
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  std::string out;
  EXPECT_EQ(fw.tavikctl("open cardin move 0 cardout close", &out), 0) << out;
  EXPECT_NE(fw.transcript().find("in=400500"), std::string::npos);
  EXPECT_EQ(fw.tavikctl("raw TVCID_GETSTATUS i:0", &out), 0) << out;
  EXPECT_EQ(fw.tavikctl("raw 300 i:0", &out), 1) << out;  // encoder command: bad command
  EXPECT_NE(out.find("bad command"), std::string::npos) << out;
}

}  // namespace
}  // namespace tavik::test
