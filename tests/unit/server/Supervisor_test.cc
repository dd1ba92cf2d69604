#include "server/Supervisor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "config/ConfigStore.h"
#include "printer/PrinterPort.h"
#include "server/Logger.h"
#include "server/Service.h"
#include "sim/gpio/GpioSimulator.h"
#include "sim/sysroot/Sysroot.h"
#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

using sim::GpioSimulator;

// Records starts and stops; the test decides whether it is running.
class FakeService : public Service {
 public:
  FakeService(std::string name, std::vector<std::string>* journal, std::mutex* mutex)
      : name_(std::move(name)), journal_(journal), mutex_(mutex) {}

  int start(PrinterPort&, Logger&, ConfigStore&) override {
    note("start ");
    running = comesUp;
    return comesUp ? 0 : -1;
  }
  bool isRunning() const override { return running.load(); }
  void stop() override {
    note("stop ");
    running = false;
  }

  const std::string& name() const { return name_; }

  std::atomic<bool> running{false};
  bool comesUp = true;

 private:
  void note(const char* what) {
    std::lock_guard<std::mutex> lock(*mutex_);
    journal_->push_back(what + name_);
  }
  std::string name_;
  std::vector<std::string>* journal_;
  std::mutex* mutex_;
};

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(sim::makeSysroot(root_.root(), &error), 0) << error;
    config_ = std::make_unique<ConfigStore>();
  }

  void TearDown() override {
    for (FakeService* s : all()) s->running = false;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<FakeService*> all() { return {&usb_, &spool_, &sdk_, &ocp_, &admin_}; }
  FakeService& service(const std::string& name) {
    for (FakeService* s : all()) {
      if (s->name() == name) return *s;
    }
    ADD_FAILURE() << "no service " << name;
    return admin_;
  }

  // Writes the service and OCP records the supervisor will load.
  void setFlags(int usbSpool, int netSpool, int netSdk, int ocp, int logLevel = 1) {
    ServiceConfig service = defaultServiceConfig();
    service.usb_spool = usbSpool;
    service.net_spool = netSpool;
    service.net_sdk = netSdk;
    service.log_level = logLevel;
    ASSERT_EQ(config_->writeService(service), 0);
    OcpConfig o = defaultOcpConfig();
    o.enabled = ocp;
    ASSERT_EQ(config_->writeOcp(o), 0);
  }

  bool startGpio() { return gpio_.start(root_.root()); }

  // Runs the supervisor on its own thread with a short tick.
  void startSupervisor(std::vector<const char*> args = {"TavikServer"}) {
    startSupervisorWith(ServiceSlots{&usb_, &spool_, &sdk_, &ocp_, &admin_}, std::move(args));
  }
  void startSupervisorWith(ServiceSlots slots,
                           std::vector<const char*> args = {"TavikServer"}) {
    args_ = std::move(args);
    supervisor_ = std::make_unique<Supervisor>(logger_, *config_, fakePort(), slots);
    supervisor_->setTick(std::chrono::milliseconds(2));
    supervisor_->setPrinterClose([this] {
      std::lock_guard<std::mutex> lock(mutex_);
      journal_.push_back("close printer");
    });
    thread_ = std::thread([this] {
      exitStatus_ = supervisor_->run(static_cast<int>(args_.size()), args_.data());
      finished_ = true;
    });
  }

  // Waits until the supervisor has read the button `reads` times.
  bool waitForReads(uint64_t reads) {
    return test::waitFor([&] { return gpio_.buttonReads() >= reads; }, std::chrono::seconds(60));
  }

  void finish() {
    admin_.running = false;
    ASSERT_TRUE(test::waitFor([&] { return finished_.load(); }, std::chrono::seconds(30)));
    thread_.join();
  }

  std::vector<std::string> journal() {
    std::lock_guard<std::mutex> lock(mutex_);
    return journal_;
  }

  int reboots() {
    int n = 0;
    for (const std::string& line : test::readLines(root_.path("/sim/commands.log"))) {
      if (line == "reboot") ++n;
    }
    return n;
  }

  std::vector<std::string> logBodies() {
    std::vector<std::string> out;
    for (const std::string& line : test::readLines(root_.path("/var/log/tavik.log.0"))) {
      size_t dash = line.find(" - ");
      out.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    }
    return out;
  }

  // The fake services never touch the printer port; the supervisor only
  // hands it on to them. The sysroot has no printer, so it stays closed.
  PrinterPort* fakePort() { return &port_; }

  test::ScopedSysroot root_;
  PrinterPort port_;
  GpioSimulator gpio_;
  Logger logger_;
  std::unique_ptr<ConfigStore> config_;
  std::mutex mutex_;
  std::vector<std::string> journal_;  // guarded by mutex_
  FakeService usb_{"usb", &journal_, &mutex_};
  FakeService spool_{"spool", &journal_, &mutex_};
  FakeService sdk_{"sdk", &journal_, &mutex_};
  FakeService ocp_{"ocp", &journal_, &mutex_};
  FakeService admin_{"admin", &journal_, &mutex_};
  std::vector<const char*> args_;
  std::unique_ptr<Supervisor> supervisor_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  int exitStatus_ = -1;
};

TEST_F(SupervisorTest, StartsAndStopsServicesInOrder) {
  setFlags(1, 1, 1, 1);
  ASSERT_TRUE(startGpio());
  startSupervisor();
  ASSERT_TRUE(waitForReads(3));
  finish();
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_EQ(journal(), (std::vector<std::string>{"start usb", "start spool", "start sdk",
                                                 "start ocp", "start admin", "stop ocp",
                                                 "stop admin", "stop sdk", "stop spool",
                                                 "stop usb", "close printer"}));
  EXPECT_EQ(logBodies(), (std::vector<std::string>{
                             "TavikServer(TVNP2.0) Started USB_SPOOL:ON  NET_SPOOL:ON  NET_SDK: "
                             "ON(SSL,NO AUTH)",
                             "TavikServer Terminated", ""}));
  EXPECT_EQ(gpio_.initCount(), 1u);
}

TEST_F(SupervisorTest, LedAlternatesEveryFiveTicksStartingWithPhaseA) {
  setFlags(0, 0, 0, 0);
  ASSERT_TRUE(startGpio());
  startSupervisor();
  ASSERT_TRUE(waitForReads(23));
  finish();
  int ticks = supervisor_->ticks();
  EXPECT_EQ(static_cast<uint64_t>(ticks), gpio_.buttonReads());  // one button read a tick
  std::vector<GpioSimulator::LedChange> leds = gpio_.ledHistory();
  ASSERT_EQ(leds.size(), static_cast<size_t>(ticks / 5));
  ASSERT_GE(leds.size(), 4u);
  for (size_t i = 0; i < leds.size(); ++i) {
    EXPECT_EQ(leds[i].request, i % 2 == 0 ? GpioSimulator::kLedA : GpioSimulator::kLedB) << i;
    // The change of tick 5(i+1) comes before that tick's button read.
    EXPECT_EQ(leds[i].buttonReads, 5 * (i + 1) - 1) << i;
    if (i > 0) {
      EXPECT_GE(leds[i].timeMs, leds[i - 1].timeMs);
    }
  }
  EXPECT_NE(test::readFile(root_.path("/sim/gpio.log")).find("0x5506 led A"), std::string::npos);
}

struct ButtonCase {
  const char* name;
  std::vector<std::pair<bool, int>> script;  // held?, button reads
  int reboots;
};

void PrintTo(const ButtonCase& c, std::ostream* os) { *os << c.name; }

class SupervisorButton : public SupervisorTest,
                         public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(SupervisorButton, FactoryResetAfterMoreThanThirtyHeldTicks) {
  setFlags(0, 0, 0, 0);
  // Records the reset must remove, and files it must leave.
  test::writeFile(root_.path("/flash/tavik_user"), "admin:x\n");
  test::writeFile(root_.path("/flash/tavik_system"), std::string(16, '\1'));
  test::writeFile(root_.path("/flash/ocp/logo.bmp"), "BM");
  ASSERT_TRUE(startGpio());
  int total = 0;
  for (auto [held, reads] : GetParam().script) {
    gpio_.scriptButton(held, reads);
    total += reads;
  }
  startSupervisor();
  ASSERT_TRUE(waitForReads(total + 3));
  finish();

  EXPECT_EQ(reboots(), GetParam().reboots);
  bool reset = GetParam().reboots > 0;
  for (const char* file : {"/flash/tavik_user", "/flash/tavik_system", "/flash/tavik_service",
                           "/flash/tavik_ocp"}) {
    EXPECT_EQ(test::fileExists(root_.path(file)), !reset) << file;
  }
  EXPECT_TRUE(test::fileExists(root_.path("/flash/vusk_system.cfg")));
  EXPECT_TRUE(test::fileExists(root_.path("/flash/ocp/logo.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Holds, SupervisorButton,
    ::testing::Values(
        ButtonCase{"Held30", {{true, 30}}, 0}, ButtonCase{"Held31", {{true, 31}}, 1},
        // While the button stays held the reset is issued again every tick.
        ButtonCase{"Held33", {{true, 33}}, 3},
        // A single released tick clears the count.
        ButtonCase{"TwoShortHolds", {{true, 20}, {false, 1}, {true, 20}}, 0},
        ButtonCase{"ReleasedThenHeld31", {{true, 30}, {false, 1}, {true, 31}}, 1},
        ButtonCase{"LateHold", {{false, 7}, {true, 31}}, 1}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return info.param.name; });

struct WatchCase {
  const char* name;
  int usbSpool, netSpool, netSdk, ocp;
  const char* stops;  // the service that stops while supervised
  bool endsLoop;
};

void PrintTo(const WatchCase& c, std::ostream* os) { *os << c.name; }

class SupervisorWatch : public SupervisorTest, public ::testing::WithParamInterface<WatchCase> {};

// A firmware build without the OCP shell keeps running with OCP enabled in
// its settings; without an admin service it stops at once.
TEST_F(SupervisorTest, EmptySlotIsNotWatchedExceptAdmin) {
  setFlags(1, 1, 1, 1);
  ASSERT_TRUE(startGpio());
  for (FakeService* s : all()) s->running = true;
  startSupervisorWith(ServiceSlots{&usb_, &spool_, &sdk_, nullptr, &admin_});
  ASSERT_TRUE(waitForReads(10));
  EXPECT_FALSE(finished_.load());
  admin_.running = false;
  ASSERT_TRUE(test::waitFor([&] { return finished_.load(); }, std::chrono::seconds(30)));
  finish();
  EXPECT_EQ(exitStatus_, 0);
}

TEST_P(SupervisorWatch, LoopEndsWhenAWatchedServiceStops) {
  const WatchCase& c = GetParam();
  setFlags(c.usbSpool, c.netSpool, c.netSdk, c.ocp);
  ASSERT_TRUE(startGpio());
  // A disabled service still "runs" here, so only the flags decide.
  for (FakeService* s : all()) s->running = true;
  startSupervisor();
  ASSERT_TRUE(waitForReads(3));
  service(c.stops).running = false;
  if (c.endsLoop) {
    ASSERT_TRUE(test::waitFor([&] { return finished_.load(); }, std::chrono::seconds(30)));
  } else {
    uint64_t reads = gpio_.buttonReads();
    ASSERT_TRUE(waitForReads(reads + 10));
    EXPECT_FALSE(finished_.load());
  }
  finish();
  EXPECT_EQ(exitStatus_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Services, SupervisorWatch,
    ::testing::Values(WatchCase{"Admin", 1, 1, 1, 1, "admin", true},
                      WatchCase{"Spool", 1, 1, 1, 1, "spool", true},
                      WatchCase{"Sdk", 1, 1, 1, 1, "sdk", true},
                      WatchCase{"Ocp", 1, 1, 1, 1, "ocp", true},
                      WatchCase{"UsbIsNotWatched", 1, 1, 1, 1, "usb", false},
                      WatchCase{"SpoolDisabled", 1, 0, 1, 1, "spool", false},
                      WatchCase{"SdkDisabled", 1, 1, 0, 1, "sdk", false},
                      WatchCase{"OcpDisabled", 1, 1, 1, 0, "ocp", false}),
    [](const ::testing::TestParamInfo<WatchCase>& info) { return info.param.name; });

TEST_F(SupervisorTest, OnlyEnabledServicesStart) {
  setFlags(0, 1, 0, 0);
  ASSERT_TRUE(startGpio());
  startSupervisor();
  ASSERT_TRUE(waitForReads(2));
  finish();
  EXPECT_EQ(journal(), (std::vector<std::string>{"start spool", "start admin", "stop ocp",
                                                 "stop admin", "stop sdk", "stop spool",
                                                 "stop usb", "close printer"}));
}

TEST_F(SupervisorTest, AdminThatFailsToStartEndsAtOnce) {
  setFlags(1, 1, 1, 1);
  admin_.comesUp = false;
  ASSERT_TRUE(startGpio());
  startSupervisor();
  ASSERT_TRUE(test::waitFor([&] { return finished_.load(); }, std::chrono::seconds(30)));
  thread_.join();
  EXPECT_EQ(exitStatus_, 0);
  EXPECT_EQ(supervisor_->ticks(), 0);
  EXPECT_TRUE(gpio_.ledHistory().empty());
  std::vector<std::string> lines = logBodies();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(lines[lines.size() - 2], "TavikServer Terminated");
}

TEST_F(SupervisorTest, RunsWithoutTheGpioDriver) {
  setFlags(0, 0, 0, 0);
  startSupervisor();  // no simulator: /dev/gpio cannot be opened
  ASSERT_TRUE(test::waitFor([&] { return supervisor_->ticks() >= 40; }, std::chrono::seconds(60)));
  EXPECT_FALSE(finished_.load());
  finish();
  EXPECT_EQ(reboots(), 0);  // a failed button read never counts as held
  EXPECT_TRUE(test::fileExists(root_.path("/flash/tavik_service")));
}

struct BannerCase {
  int usbSpool, netSpool, netSdk, ssl, auth, logLevel;
  const char* banner;  // nullptr: below the threshold
};

class SupervisorBanner : public SupervisorTest, public ::testing::WithParamInterface<BannerCase> {
};

TEST_P(SupervisorBanner, BannerShowsTheSettings) {
  const BannerCase& c = GetParam();
  ServiceConfig service = defaultServiceConfig();
  service.usb_spool = c.usbSpool;
  service.net_spool = c.netSpool;
  service.net_sdk = c.netSdk;
  service.sdk_ssl = c.ssl;
  service.sdk_auth = c.auth;
  service.log_level = c.logLevel;
  ASSERT_EQ(config_->writeService(service), 0);
  Supervisor supervisor(logger_, *config_, nullptr, ServiceSlots{});
  const char* args[] = {"TavikServer"};
  supervisor.configure(1, args);
  EXPECT_EQ(logger_.threshold(), c.logLevel);
  if (c.banner == nullptr) {
    EXPECT_FALSE(test::fileExists(root_.path("/var/log/tavik.log.0")));
  } else {
    EXPECT_EQ(logBodies(), (std::vector<std::string>{c.banner}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SupervisorBanner,
    ::testing::Values(
        BannerCase{1, 1, 1, 1, 0, 1,
                   "TavikServer(TVNP2.0) Started USB_SPOOL:ON  NET_SPOOL:ON  NET_SDK: ON(SSL,NO "
                   "AUTH)"},
        BannerCase{0, 1, 0, 0, 1, 2,
                   "TavikServer(TVNP2.0) Started USB_SPOOL:OFF  NET_SPOOL:ON  NET_SDK: "
                   "OFF(TCP,AUTH)"},
        BannerCase{1, 0, 1, 0, 0, 0,
                   "TavikServer(TVNP2.0) Started USB_SPOOL:ON  NET_SPOOL:OFF  NET_SDK: "
                   "ON(TCP,NO AUTH)"},
        BannerCase{1, 1, 1, 1, 1, 3, nullptr}),
    [](const ::testing::TestParamInfo<BannerCase>& info) {
      return "Settings" + std::to_string(info.index);
    });

struct ArgsCase {
  std::vector<const char*> args;
  bool console;
};

class ConsoleArgument : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ConsoleArgument, OnlyASingleDashCSelectsConsoleMode) {
  const auto& args = GetParam().args;
  EXPECT_EQ(Supervisor::consoleRequested(static_cast<int>(args.size()), args.data()),
            GetParam().console);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ConsoleArgument,
    ::testing::Values(ArgsCase{{"TavikServer"}, false}, ArgsCase{{"TavikServer", "-c"}, true},
                      ArgsCase{{"TavikServer", "-c", "x"}, false},
                      ArgsCase{{"TavikServer", "x", "-c"}, false},
                      ArgsCase{{"TavikServer", "-cc"}, false},
                      ArgsCase{{"TavikServer", "c"}, false}),
    [](const ::testing::TestParamInfo<ArgsCase>& info) {
      return "CommandLine" + std::to_string(info.index);
    });

// The real program in a sysroot and its own network namespace (its admin
// port must not meet the host's): it logs the banner where the command line
// says, runs until SIGTERM and then stops in order with status 0.
struct ProgramCase {
  std::vector<std::string> arguments;
  bool console;
};

class Program : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Program, LogsBannerRunsAndStopsInOrder) {
  test::ScopedSysroot root;
  std::string error;
  ASSERT_EQ(sim::makeSysroot(root.root(), &error), 0) << error;
  std::string binary = test::buildDir() + "/server/TavikServer";
  std::vector<std::string> args{binary};
  args.insert(args.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string outPath = root.path("/sim/server.out");

  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::dup2(out, 1) < 0 || ::unshare(CLONE_NEWNET) != 0) ::_exit(126);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  std::string banner =
      " - TavikServer(TVNP2.0) Started USB_SPOOL:ON  NET_SPOOL:ON  NET_SDK: ON(SSL,NO AUTH)\n";
  std::string logFile = root.path("/var/log/tavik.log.0");
  std::string where = GetParam().console ? outPath : logFile;
  EXPECT_TRUE(test::waitFor([&] { return test::readFile(where).find(banner) != std::string::npos; },
                            std::chrono::seconds(30)))
      << test::readFile(where);
  // Signal only once the admin port listens (11111 is 2B67 in the
  // namespace's socket table): by then the services handle SIGTERM.
  std::string table = "/proc/" + std::to_string(pid) + "/net/tcp";
  EXPECT_TRUE(test::waitFor(
      [&] { return test::readFile(table).find(":2B67 00000000:0000 0A") != std::string::npos; },
      std::chrono::seconds(30)))
      << test::readFile(table);
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::string text = test::readFile(where);
  EXPECT_EQ(test::readFile(GetParam().console ? logFile : outPath), "");
  EXPECT_NE(text.find(banner), std::string::npos) << text;
  EXPECT_NE(text.find(" - TavikServer Terminated\n\n"), std::string::npos) << text;
  // First start: the records were created with their defaults.
  EXPECT_EQ(std::filesystem::file_size(root.path("/flash/tavik_service")), 44u);
  EXPECT_EQ(std::filesystem::file_size(root.path("/flash/tavik_ocp")), 28u);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Program,
                         ::testing::Values(ProgramCase{{}, false}, ProgramCase{{"-c"}, true},
                                           ProgramCase{{"-c", "x"}, false}),
                         [](const ::testing::TestParamInfo<ProgramCase>& info) {
                           return std::string(info.index == 0   ? "NoArguments"
                                              : info.index == 1 ? "Console"
                                                                : "ConsoleAndMore");
                         });

}  // namespace
}  // namespace tavik
