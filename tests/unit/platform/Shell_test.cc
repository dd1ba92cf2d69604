#include "platform/Shell.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace tavik::platform {
namespace {

TEST(Shell, WithoutSysrootCommandsAreUnchanged) {
  ::unsetenv("TAVIK_ROOT");
  EXPECT_EQ(mapCommand("/sbin/reboot"), "/sbin/reboot");
  EXPECT_EQ(mapCommand("/bin/rm -r -f /flash/tavik_*"), "/bin/rm -r -f /flash/tavik_*");
}

struct MapCase {
  const char* command;
  const char* expected;  // with R standing for the sysroot
};

class ShellMapping : public ::testing::TestWithParam<MapCase> {};

TEST_P(ShellMapping, MapsPlatformProgramsAndPaths) {
  test::ScopedSysroot root;
  std::string expected = GetParam().expected;
  for (size_t at = 0; (at = expected.find('R', at)) != std::string::npos;
       at += root.root().size()) {
    expected.replace(at, 1, root.root());
  }
  EXPECT_EQ(mapCommand(GetParam().command), expected);
}

std::string caseName(const ::testing::TestParamInfo<MapCase>& info) {
  return "Command" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ShellMapping,
    ::testing::Values(
        MapCase{"/sbin/reboot", "R/sbin/reboot"},
        MapCase{"reboot", "R/sbin/reboot"},
        MapCase{"/bin/rm -r -f /flash/tavik_*", "/bin/rm -r -f R/flash/tavik_*"},
        MapCase{"/bin/rm -f /var/log/tavik.log.*", "/bin/rm -f R/var/log/tavik.log.*"},
        MapCase{"insmod /lib/modules/g_usbtavik.ko idVendor=0x0016",
                "R/sbin/insmod R/lib/modules/g_usbtavik.ko idVendor=0x0016"},
        MapCase{"lsmod | /bin/grep g_usbtavik", "R/sbin/lsmod | /bin/grep g_usbtavik"},
        MapCase{"/sbin/ifconfig eth0 hw ether 00:11:22:33:44:55",
                "R/sbin/ifconfig eth0 hw ether 00:11:22:33:44:55"},
        MapCase{"/bin/cat /proc/bus/usb/devices 2>/dev/null",
                "/bin/cat R/proc/bus/usb/devices 2>R/dev/null"},
        MapCase{"echo x >/etc/network/interfaces; ifup eth0",
                "echo x >R/etc/network/interfaces; R/sbin/ifup eth0"}),
    caseName);

TEST(Shell, FactoryResetUnderSysrootNeverTouchesHost) {
  test::ScopedSysroot root;
  // A stub that records its arguments, as the sysroot set-up installs.
  test::writeFile(root.path("/sbin/reboot"),
                  "#!/bin/sh\necho \"reboot $*\" >> \"$TAVIK_ROOT/sim/commands.log\"\n");
  std::filesystem::permissions(root.path("/sbin/reboot"), std::filesystem::perms::owner_all);
  test::writeFile(root.path("/flash/tavik_service"), "x");
  test::writeFile(root.path("/flash/other"), "keep");

  EXPECT_EQ(runCommand("/bin/rm -r -f /flash/tavik_*"), 0);
  int status = runCommand("/sbin/reboot");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_FALSE(test::fileExists(root.path("/flash/tavik_service")));
  EXPECT_TRUE(test::fileExists(root.path("/flash/other")));
  EXPECT_EQ(test::readFile(root.path("/sim/commands.log")), "reboot \n");
}

TEST(Shell, PopenFormCollectsOutput) {
  test::ScopedSysroot root;
  test::writeFile(root.path("/proc/bus/usb/devices"), "P:  Vendor=0016 ProdID=0101\n");
  std::string out;
  int status = runCommandRead("/bin/cat /proc/bus/usb/devices", &out);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "P:  Vendor=0016 ProdID=0101\n");
}

}  // namespace
}  // namespace tavik::platform
