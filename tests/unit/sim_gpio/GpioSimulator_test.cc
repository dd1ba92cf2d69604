#include "sim/gpio/GpioSimulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/DeviceFile.h"
#include "sim/DeviceServer.h"
#include "tests/support/TestSupport.h"

namespace tavik::sim {
namespace {

class GpioSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gpio_.start(root_.root()));
    ASSERT_EQ(dev_.open("/dev/gpio", O_RDWR), 0);
  }
  std::string control(const std::string& line) {
    return controlRequest(root_.path("/sim/gpio.ctl"), line);
  }
  int button() { return dev_.ioctl(GpioSimulator::kButton); }

  test::ScopedSysroot root_;
  GpioSimulator gpio_;
  platform::DeviceFile dev_;
};

TEST_F(GpioSimTest, InitIsCounted) {
  EXPECT_EQ(dev_.ioctl(GpioSimulator::kInit), 0);
  EXPECT_EQ(gpio_.initCount(), 1u);
  EXPECT_NE(control("state").find("init=1"), std::string::npos);
}

TEST_F(GpioSimTest, LedChangesAreRecordedInOrder) {
  EXPECT_EQ(button(), 1);
  EXPECT_EQ(dev_.ioctl(GpioSimulator::kLedA), 0);
  EXPECT_EQ(button(), 1);
  EXPECT_EQ(button(), 1);
  EXPECT_EQ(dev_.ioctl(GpioSimulator::kLedB), 0);
  std::vector<GpioSimulator::LedChange> leds = gpio_.ledHistory();
  ASSERT_EQ(leds.size(), 2u);
  EXPECT_EQ(leds[0].request, GpioSimulator::kLedA);
  EXPECT_EQ(leds[0].buttonReads, 1u);
  EXPECT_EQ(leds[1].request, GpioSimulator::kLedB);
  EXPECT_EQ(leds[1].buttonReads, 3u);
  EXPECT_GE(leds[1].timeMs, leds[0].timeMs);

  std::vector<std::string> log = test::readLines(root_.path("/sim/gpio.log"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], std::to_string(leds[0].timeMs) + " 0x5506 led A");
  EXPECT_EQ(log[1], std::to_string(leds[1].timeMs) + " 0x5507 led B");

  std::string history = control("leds");
  EXPECT_EQ(history, "A@" + std::to_string(leds[0].timeMs) + "/1 B@" +
                         std::to_string(leds[1].timeMs) + "/3");
  EXPECT_EQ(control("clear"), "ok");
  EXPECT_EQ(control("leds"), "none");
}

TEST_F(GpioSimTest, ButtonFollowsPressAndRelease) {
  EXPECT_EQ(button(), 1);
  EXPECT_EQ(control("press"), "ok");
  EXPECT_EQ(button(), 0);
  EXPECT_EQ(button(), 0);
  EXPECT_NE(control("state").find("button=held"), std::string::npos);
  EXPECT_EQ(control("release"), "ok");
  EXPECT_EQ(button(), 1);
  EXPECT_NE(control("state").find("button=released reads=4"), std::string::npos)
      << control("state");
}

TEST_F(GpioSimTest, ButtonScriptCountsReads) {
  EXPECT_EQ(control("hold 2"), "ok");
  EXPECT_EQ(control("free 1"), "ok");
  EXPECT_EQ(control("hold 1"), "ok");
  std::vector<int> seen;
  for (int i = 0; i < 6; ++i) seen.push_back(button());
  EXPECT_EQ(seen, (std::vector<int>{0, 0, 1, 0, 1, 1}));
  // After the script the steady state returns; a press clears a script.
  gpio_.scriptButton(false, 5);
  gpio_.press();
  EXPECT_EQ(button(), 0);
}

TEST_F(GpioSimTest, SetupBlockIsRecordedAndHandedBack) {
  uint32_t words[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00400000, 0xC03F300F, 0x06FED22F};
  uint32_t copy[12];
  std::memcpy(copy, words, sizeof words);
  EXPECT_EQ(dev_.ioctl(GpioSimulator::kSetup, words, sizeof words), 0);
  EXPECT_EQ(std::memcmp(words, copy, sizeof words), 0);
  std::vector<uint8_t> block = gpio_.setupBlock();
  ASSERT_EQ(block.size(), 48u);
  EXPECT_EQ(std::memcmp(block.data(), copy, 48), 0);
  EXPECT_EQ(gpio_.setupCount(), 1u);
  EXPECT_EQ(control("setup"), std::string(72, '0') + "00004000" + "0f303fc0" + "2fd2fe06");
  EXPECT_NE(test::readFile(root_.path("/sim/gpio.log")).find(" 0x5541 setup 0000"),
            std::string::npos);
}

struct BadRequest {
  uint32_t request;
  size_t size;
  int error;
};

class GpioSimBadRequest : public GpioSimTest, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(GpioSimBadRequest, FailsLikeTheDriver) {
  std::vector<uint8_t> buffer(GetParam().size);
  errno = 0;
  EXPECT_EQ(dev_.ioctl(GetParam().request, buffer.data(), buffer.size()), -1);
  EXPECT_EQ(errno, GetParam().error);
  EXPECT_EQ(gpio_.setupCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Requests, GpioSimBadRequest,
                         ::testing::Values(BadRequest{GpioSimulator::kSetup, 0, EFAULT},
                                           BadRequest{GpioSimulator::kSetup, 47, EFAULT},
                                           BadRequest{0x5501, 0, ENOTTY},
                                           BadRequest{0x1234, 4, ENOTTY}),
                         [](const ::testing::TestParamInfo<BadRequest>& info) {
                           return "Request" + std::to_string(info.param.request) + "Size" +
                                  std::to_string(info.param.size);
                         });

class GpioSimControl : public ::testing::TestWithParam<const char*> {};

TEST_P(GpioSimControl, RefusesMalformedLines) {
  GpioSimulator gpio;
  std::string answer = gpio.control(GetParam());
  EXPECT_EQ(answer.rfind("error", 0), 0u) << answer;
  EXPECT_EQ(gpio.buttonReads(), 0u);
  EXPECT_FALSE(gpio.buttonHeld());
}

INSTANTIATE_TEST_SUITE_P(Lines, GpioSimControl,
                         ::testing::Values("", "bogus", "hold", "hold x", "hold -1", "hold 1 2",
                                           "free 99999999999", "press now", "leds 1"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return "Line" + std::to_string(info.index);
                         });

TEST(GpioSimProgram, ServesUntilTerminated) {
  test::ScopedSysroot root;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string program = test::buildDir() + "/sim/gpio/tavik-gpio-sim";
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string ctl = root.path("/sim/gpio.ctl");
  ASSERT_TRUE(test::waitFor([&] { return controlRequest(ctl, "state") != ""; }));
  EXPECT_EQ(controlRequest(ctl, "press"), "ok");
  {
    platform::DeviceFile dev;
    ASSERT_EQ(dev.open("/dev/gpio", O_RDWR), 0);
    EXPECT_EQ(dev.ioctl(GpioSimulator::kButton), 0);
  }
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(test::fileExists(root.path("/dev/gpio")));
  EXPECT_FALSE(test::fileExists(ctl));
}

}  // namespace
}  // namespace tavik::sim
