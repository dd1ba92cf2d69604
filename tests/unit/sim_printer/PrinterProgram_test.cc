// The tavik-printer-sim program: started like the run script starts it,
// driven through its sockets, stopped with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/unit/sim_printer/PrinterLink.h"

extern char** environ;

namespace tavik {
namespace {

using namespace std::chrono_literals;

TEST(PrinterProgram, ServesTheDeviceAndControlSocketUntilTerminated) {
  test::ScopedSysroot root;
  std::string program = test::buildDir() + "/sim/printer/tavik-printer-sim";
  std::vector<std::string> args = {program, "--time-scale", "0.01", "--hopper", "3",
                                   "--ribbon", "77"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);

  const std::string ctl = root.path("/sim/printer.ctl");
  ASSERT_TRUE(test::waitFor([&] { return !sim::controlRequest(ctl, "state").empty(); }, 10s));
  std::string state = sim::controlRequest(ctl, "state");
  EXPECT_NE(state.find("\"hopper\":3"), std::string::npos) << state;
  EXPECT_NE(state.find("\"ribbonRemaining\":77"), std::string::npos) << state;
  EXPECT_NE(state.find("\"plugged\":true"), std::string::npos) << state;

  test::PrinterLink link;
  ASSERT_EQ(link.open(), 0);
  link.send({0x40, 0x01, 0x00});
  ASSERT_TRUE(link.waitIdle());
  EXPECT_NE(link.wordA() & sim::word_a::kCardInside, 0u);
  EXPECT_EQ(sim::controlRequest(ctl, "card").rfind("OK {\"number\":1,", 0), 0u);

  // A person sends a print image from the shell and gets the card back.
  link.send({0x40, 0x02, 0x00});
  ASSERT_TRUE(link.waitIdle());
  std::vector<uint8_t> y(8 * 4, 200);
  auto image = test::encodePrn(0x80, 8, 4, {{sim::kPanelY, y}});
  const std::string file = root.root() + "/card.prn";
  ASSERT_TRUE(test::writeFile(file, std::string(image.begin(), image.end())));
  FILE* p = ::popen((program + " --root " + root.root() + " --send " + file).c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[512] = {};
  std::string out;
  while (std::fgets(line, sizeof line, p) != nullptr) out += line;
  EXPECT_EQ(::pclose(p), 0) << out;
  EXPECT_EQ(out.rfind("OK {\"card\":2,\"side\":\"front\"", 0), 0u) << out;
  EXPECT_TRUE(test::waitFor(
      [&] { return test::fileExists(root.path("/sim/printer/cards/card-0002-front.png")); }));

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string transcript = test::readFile(root.path("/sim/printer/transcript.log"));
  EXPECT_NE(transcript.find("CMD_WRITE          arg=0x4003500E in=400100 result=3 errno=0 out=400100 frame=card-in"), std::string::npos) << transcript;
  EXPECT_FALSE(test::fileExists(root.path("/dev/usblp0")));
}

}  // namespace
}  // namespace tavik
