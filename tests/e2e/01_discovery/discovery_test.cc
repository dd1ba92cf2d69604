// Discovery on UDP port 11119 against the running module.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/TvnpPacket.h"
#include "tests/support/FirmwareProcess.h"
#include "tests/support/TestSupport.h"
#include "tools/client/Discovery.h"

namespace tavik::test {
namespace {

using client::DiscoveryAnswer;

// Sends raw bytes to the module's port 11119; true when any answer arrives.
bool anyAnswer(const FirmwareProcess& fw, const std::vector<uint8_t>& datagram) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(11119);
  ::inet_aton(fw.address().c_str(), &to.sin_addr);
  ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  pollfd p{fd, POLLIN, 0};
  bool got = ::poll(&p, 1, 1500) > 0;
  ::close(fd);
  return got;
}

std::vector<DiscoveryAnswer> ask(const std::string& target, int type) {
  std::vector<DiscoveryAnswer> answers;
  client::discover(target, type, 1500, &answers, nullptr, "e2e");
  return answers;
}

TEST(Discovery, AnswersEachTypeWithThePrinterAndTheService) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.sdk_ssl = 0;
  s.sdk_port = 11200;
  s.spool_port = 9200;
  s.log_level = 0;  // lookups are logged at traffic level
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  struct Case {
    int type;
    int port;
    int tls;
  } cases[] = {{0, 11111, 1}, {1, 11200, 0}, {2, 9200, 0}};
  for (const auto& c : cases) {
    auto answers = ask(fw.address(), c.type);
    ASSERT_EQ(answers.size(), 1u) << c.type;
    const DiscoveryAnswer& a = answers[0];
    EXPECT_EQ(a.protocol, "TVNP2.0");
    EXPECT_EQ(a.productId, 0x0101);
    EXPECT_NE(a.printerId, "OFFLINE");
    EXPECT_FALSE(a.printerId.empty());
    EXPECT_EQ(a.address, fw.address());
    EXPECT_EQ(a.port, c.port) << c.type;
    EXPECT_EQ(a.tls, c.tls) << c.type;
    EXPECT_EQ(a.available, 1);
  }
  // The subnet broadcast reaches it too, as a PC's search would.
  EXPECT_EQ(ask(fw.broadcast(), 0).size(), 1u);
  EXPECT_TRUE(fw.waitForLog("[            e2e] NETWORK_LOOKUP(TVNP2.0 0 e2e 0)"));
}

TEST(Discovery, DisabledServicesAndForeignQueriesGetNoAnswer) {
  ServiceConfig s = FirmwareProcess::defaultService();
  s.net_sdk = 0;
  s.net_spool = 0;
  s.usb_spool = 0;
  FirmwareProcess fw(withService(s));
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  EXPECT_EQ(ask(fw.address(), 0).size(), 1u);
  EXPECT_TRUE(ask(fw.address(), 1).empty());
  EXPECT_TRUE(ask(fw.address(), 2).empty());
  EXPECT_TRUE(ask(fw.address(), 3).empty());
  std::string ascii = "TVNP2.0 0 e2e 0";
  EXPECT_FALSE(anyAnswer(fw, std::vector<uint8_t>(ascii.begin(), ascii.end())));
  EXPECT_FALSE(anyAnswer(fw, tvnp::encodeText("TVNX2.0 0 e2e 0")));
  // A datagram without any 0 unit and with an over-long word is cut, not
  // overflowed, and still answered.
  std::vector<uint8_t> big = tvnp::encodeText("TVNP2.0 0 " + std::string(200, 'w'));
  big.resize(512);
  EXPECT_TRUE(anyAnswer(fw, big));
  EXPECT_TRUE(fw.serverAlive());
}

TEST(Discovery, NoPrinterReadsOffline) {
  FirmwareOptions o;
  o.startPrinter = false;
  FirmwareProcess fw(o);
  std::string error;
  ASSERT_TRUE(fw.start(&error)) << error;
  auto answers = ask(fw.address(), 0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].productId, 0);
  EXPECT_EQ(answers[0].printerId, "OFFLINE");
}

}  // namespace
}  // namespace tavik::test
