#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/TestSupport.h"

namespace tavik::platform {
namespace {

TEST(Paths, UnsetRootKeepsModulePaths) {
  ::unsetenv("TAVIK_ROOT");
  EXPECT_EQ(hostPath("/flash/tavik_user"), "/flash/tavik_user");
  EXPECT_EQ(sysroot(), "");
}

TEST(Paths, RootPrefixesAbsolutePathsOnly) {
  test::ScopedSysroot root;
  EXPECT_EQ(hostPath("/dev/usblp0"), root.root() + "/dev/usblp0");
  EXPECT_EQ(hostPath("relative/file"), "relative/file");
  EXPECT_EQ(hostPath(""), "");
}

TEST(Paths, TrailingSlashOfRootIsNotDoubled) {
  ::setenv("TAVIK_ROOT", "/tmp/some-root//", 1);
  EXPECT_EQ(hostPath("/flash/x"), "/tmp/some-root/flash/x");
  ::unsetenv("TAVIK_ROOT");
}

}  // namespace
}  // namespace tavik::platform
