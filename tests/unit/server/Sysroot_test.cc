#include "sim/sysroot/Sysroot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/Shell.h"
#include "tests/support/TestSupport.h"

namespace tavik::sim {
namespace {

class SysrootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(makeSysroot(root_.root(), &error), 0) << error;
  }
  std::string commands() const { return test::readFile(root_.path("/sim/commands.log")); }

  test::ScopedSysroot root_;
};

TEST_F(SysrootTest, MakesTheModulesDirectories) {
  for (const char* dir : {"/flash", "/flash/ocp", "/dev", "/tmp/pcscd", "/var/log",
                          "/etc/network", "/proc/bus/usb", "/sim", "/sbin", "/lib/modules"}) {
    EXPECT_TRUE(std::filesystem::is_directory(root_.path(dir))) << dir;
  }
}

TEST_F(SysrootTest, PlatformConfigHoldsTheMacAddress) {
  std::string cfg = test::readFile(root_.path("/flash/vusk_system.cfg"));
  ASSERT_EQ(cfg.size(), 414u);
  EXPECT_EQ(cfg.substr(0, 6), std::string("\x00\x1B\x2C\x3D\x4E\x5F", 6));
  EXPECT_EQ(cfg.find_first_not_of('\0', 6), std::string::npos);
}

TEST_F(SysrootTest, DeviceListShowsThePrinterIdentity) {
  std::vector<std::string> lines = test::readLines(root_.path("/proc/bus/usb/devices"));
  size_t at = 0;
  while (at < lines.size() && lines[at].rfind("P:  Vendor=0016", 0) != 0) ++at;
  ASSERT_LT(at + 3, lines.size());
  EXPECT_EQ(lines[at], "P:  Vendor=0016 ProdID=0101 Rev= 1.00");
  EXPECT_EQ(lines[at + 1], "S:  Manufacturer=TAVIK");
  EXPECT_EQ(lines[at + 2], "S:  Product=TC-D200");
  EXPECT_EQ(lines[at + 3], "S:  SerialNumber=TD2A0012345");
}

// The hub's devices, as the module reads them: the port number at column 31
// of each "T:  Bus=01 Lev=02 Prnt=02" line, the device number after "Dev#=",
// and the first product line after it.
TEST_F(SysrootTest, InternalHubCarriesPrinterAndReaders) {
  std::vector<std::string> lines = test::readLines(root_.path("/proc/bus/usb/devices"));
  std::vector<std::string> found;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("T:  Bus=01 Lev=02 Prnt=02", 0) != 0) continue;
    ASSERT_GT(lines[i].size(), 33u);
    int port = std::atoi(lines[i].c_str() + 31);
    size_t dev = lines[i].find("Dev#=");
    ASSERT_NE(dev, std::string::npos);
    int device = std::atoi(lines[i].c_str() + dev + 5);
    std::string product;
    for (size_t j = i + 1; j < lines.size(); ++j) {
      if (lines[j].rfind("S:  Product=", 0) == 0) {
        product = lines[j].substr(12);
        break;
      }
    }
    found.push_back(std::to_string(port) + "/" + std::to_string(device) + " " + product);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"0/3 TC-D200", "1/4 PC Twin Reader",
                                             "2/5 ABCM COMBI"}));
}

TEST_F(SysrootTest, ReaderMapNamesEachReadersDeviceNumber) {
  std::vector<std::string> found;
  for (const std::string& line : test::readLines(root_.path("/tmp/pcscd/readermap"))) {
    size_t last = line.rfind(':');
    ASSERT_NE(last, std::string::npos);
    ASSERT_GT(last, 0u);
    size_t before = line.rfind(':', last - 1);
    ASSERT_NE(before, std::string::npos);
    found.push_back(line.substr(0, line.find(':')) + "=" +
                    std::to_string(std::atoi(line.c_str() + before + 1)));
  }
  EXPECT_EQ(found, (std::vector<std::string>{"Gemalto PC Twin Reader 00 00=4",
                                             "DE-ABCM COMBI 01 00=5"}));
}

TEST_F(SysrootTest, StubsRecordTheirCalls) {
  EXPECT_EQ(platform::runCommand("/sbin/reboot"), 0);
  EXPECT_EQ(platform::runCommand("ifconfig eth0 hw ether 00:1b:2c:3d:4e:5f"), 0);
  EXPECT_EQ(platform::runCommand("/sbin/ifup -a"), 0);
  EXPECT_EQ(commands(), "reboot\nifconfig eth0 hw ether 00:1b:2c:3d:4e:5f\nifup -a\n");
}

TEST_F(SysrootTest, LsmodListsWhatInsmodLoaded) {
  std::string out;
  platform::runCommandRead("/sbin/lsmod | /bin/grep g_usbtavik", &out);
  EXPECT_EQ(out, "");

  EXPECT_EQ(platform::runCommand("insmod /etc/drivers/g_usbtavik.ko idVendor=0x0016 "
                                 "iProduct=\"Tavik ID Card Printer\""),
            0);
  platform::runCommandRead("/sbin/lsmod | /bin/grep g_usbtavik", &out);
  EXPECT_EQ(out.rfind("g_usbtavik ", 0), 0u) << out;

  // A second load fails as the kernel's would.
  int again = platform::runCommand("insmod /etc/drivers/g_usbtavik.ko 2>/dev/null");
  ASSERT_TRUE(WIFEXITED(again));
  EXPECT_NE(WEXITSTATUS(again), 0);

  EXPECT_EQ(platform::runCommand("rmmod g_usbtavik"), 0);
  platform::runCommandRead("/sbin/lsmod | /bin/grep g_usbtavik", &out);
  EXPECT_EQ(out, "");
  EXPECT_NE(commands().find("insmod /etc/drivers/g_usbtavik.ko idVendor=0x0016 "
                            "iProduct=Tavik ID Card Printer\n"),
            std::string::npos)
      << commands();
}

TEST_F(SysrootTest, StubsStayInTheirSysrootWithoutTavikRoot) {
  // Run directly, from elsewhere, with no TAVIK_ROOT: the log still lands
  // beside the stub.
  std::string command = "cd / && env -u TAVIK_ROOT " + root_.path("/sbin/reboot") + " now";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(commands(), "reboot now\n");
}

TEST_F(SysrootTest, RenewingKeepsFlashAndForgetsLoadedModules) {
  test::writeFile(root_.path("/flash/tavik_service"), "settings");
  ASSERT_EQ(platform::runCommand("insmod /etc/drivers/g_usbtavik.ko"), 0);
  std::string error;
  ASSERT_EQ(makeSysroot(root_.root(), &error), 0) << error;
  EXPECT_EQ(test::readFile(root_.path("/flash/tavik_service")), "settings");
  EXPECT_FALSE(test::fileExists(root_.path("/sim/commands.log")));
  std::string out;
  platform::runCommandRead("/sbin/lsmod | /bin/grep g_usbtavik", &out);
  EXPECT_EQ(out, "");
}

TEST(Sysroot, RefusesTheHostRoot) {
  std::string error;
  EXPECT_EQ(makeSysroot("/", &error), -1);
  EXPECT_NE(error, "");
  EXPECT_EQ(makeSysroot("", &error), -1);
  EXPECT_EQ(makeSysroot("/tmp/../", &error), -1);
}

TEST(Sysroot, ToolMakesARoot) {
  test::ScopedSysroot scratch;
  std::string root = scratch.root() + "/made";
  std::string command = test::buildDir() + "/sim/sysroot/tavik-sysroot " + root;
  ASSERT_EQ(std::system(command.c_str()), 0);
  struct stat st {};
  ASSERT_EQ(::stat((root + "/sbin/insmod").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(test::readFile(root + "/proc/bus/usb/devices"), usbDeviceListText());
  EXPECT_NE(std::system((test::buildDir() + "/sim/sysroot/tavik-sysroot 2>/dev/null").c_str()), 0);
}

}  // namespace
}  // namespace tavik::sim
