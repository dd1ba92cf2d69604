#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net/Discovery.h"
#include "tests/unit/net/EngineFixture.h"
#include "tools/client/Discovery.h"

namespace tavik::test {
namespace {

LookupFacts facts(int sdk, int spool, int ssl) {
  LookupFacts f;
  f.productId = 257;
  f.printerId = "TAVIK TC-D200";
  f.address = "10.1.2.3";
  f.config = defaultServiceConfig();
  f.config.net_sdk = sdk;
  f.config.net_spool = spool;
  f.config.sdk_ssl = ssl;
  return f;
}

TEST(LookupAnswer, ByTypeAndSetting) {
  struct Case {
    const char* query;
    LookupFacts f;
    LookupOutcome outcome;
    const char* answer;
  } cases[] = {
      {"TVNP2.0 0 pc 0", facts(1, 1, 1), LookupOutcome::kAnswer,
       "TVNP2.0 257 TAVIK TC-D200 10.1.2.3 11111 1 1"},
      {"TVNP 1 pc 0", facts(1, 1, 0), LookupOutcome::kAnswer,
       "TVNP2.0 257 TAVIK TC-D200 10.1.2.3 11110 0 1"},
      {"TVNP2.0 2 pc 0", facts(1, 1, 1), LookupOutcome::kAnswer,
       "TVNP2.0 257 TAVIK TC-D200 10.1.2.3 9100 0 1"},
      {"TVNP2.0 1 pc 0", facts(0, 1, 1), LookupOutcome::kNoAnswer, ""},
      {"TVNP2.0 2 pc 0", facts(1, 0, 1), LookupOutcome::kNoAnswer, ""},
      {"TVNP2.0 3 pc 0", facts(1, 1, 1), LookupOutcome::kNoAnswer, ""},
      {"TVNP2.0 x pc 0", facts(1, 1, 1), LookupOutcome::kIgnored, ""},
      {"TVNX2.0 0 pc 0", facts(1, 1, 1), LookupOutcome::kIgnored, ""},
      {"TVN", facts(1, 1, 1), LookupOutcome::kIgnored, ""},
  };
  for (const auto& c : cases) {
    std::string answer, who;
    EXPECT_EQ(lookupAnswer(c.query, c.f, &answer, &who), c.outcome) << c.query;
    if (c.outcome == LookupOutcome::kAnswer) {
      EXPECT_EQ(answer, c.answer) << c.query;
    }
  }
  LookupFacts offline = facts(1, 1, 1);
  offline.productId = 0;
  std::string answer, who;
  ASSERT_EQ(lookupAnswer("TVNP2.0 0 pc 0", offline, &answer, &who), LookupOutcome::kAnswer);
  EXPECT_EQ(answer, "TVNP2.0 0 OFFLINE 10.1.2.3 11111 1 1");
}

TEST(LookupAnswer, QueryTextIsCutAtTheZeroUnitAndHostileWordsAreCut) {
  std::vector<uint8_t> eight = {'T', 'V', 'N', 'P', '2', '.', '0', ' ', '0', 0};
  // 8-bit text pairs its characters into units: "TN20" and a last '0'.
  EXPECT_EQ(lookupQueryText(eight.data(), eight.size()), "TN200");
  EXPECT_NE(lookupQueryText(eight.data(), eight.size()).rfind("TVNP", 0), 0u);
  std::string query = "TVNP2.0 0 " + std::string(400, 'w') + " 0";
  std::string answer, who;
  EXPECT_EQ(lookupAnswer(query, facts(1, 1, 1), &answer, &who), LookupOutcome::kAnswer);
  EXPECT_EQ(who.size(), 31u);
  std::vector<uint8_t> odd(513, 'A');  // odd length, no 0 unit
  EXPECT_EQ(lookupQueryText(odd.data(), odd.size()).size(), 256u);
}

class LookupResponderTest : public EngineFixture {};

TEST_F(LookupResponderTest, AnswersOverRealUdp) {
  startModule();
  std::atomic<int> run{1};
  std::atomic<int> ready{0};
  ServiceConfig config = defaultServiceConfig();
  config.net_sdk = 0;
  // An ephemeral-looking fixed port keeps the test off the module's 11119.
  const uint16_t port = uint16_t(20000 + (getpid() % 20000));
  std::thread t([&] { runLookup(*port_, *logger_, config, run, port, &ready); });
  ASSERT_TRUE(waitFor([&] { return ready.load() != 0; }));
  ASSERT_EQ(ready.load(), 1);

  auto ask = [&](int type) {
    std::vector<client::DiscoveryAnswer> answers;
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto q = client::buildDiscoveryQuery(type, "unit");
    ::sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) > 0) {
      uint8_t buf[600];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      client::DiscoveryAnswer a;
      if (n > 0 && client::parseDiscoveryAnswer(buf, size_t(n), &a)) answers.push_back(a);
    }
    ::close(fd);
    return answers;
  };
  auto admin = ask(0);
  ASSERT_EQ(admin.size(), 1u);
  EXPECT_EQ(admin[0].port, 11111);
  EXPECT_EQ(admin[0].productId, 0x0101);
  EXPECT_EQ(admin[0].printerId, printerId());
  EXPECT_TRUE(ask(1).empty());  // SDK disabled
  auto spool = ask(2);
  ASSERT_EQ(spool.size(), 1u);
  EXPECT_EQ(spool[0].port, 9100);
  EXPECT_NE(logText().find("[           unit] NETWORK_LOOKUP(TVNP2.0 0 unit 0)"), std::string::npos)
      << logText();

  run.store(0);
  auto stopAsked = std::chrono::steady_clock::now();
  t.join();
  // The responder looks at its flag every 50 ms; allow a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tavik::test
