// Helpers shared by the tests: a private sysroot per test, file access
// under it, and waiting for a condition without fixed sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tavik::test {

// A fresh temporary directory set as TAVIK_ROOT for the life of the object
// (the previous value is restored and the directory removed afterwards).
class ScopedSysroot {
 public:
  ScopedSysroot();
  ~ScopedSysroot();
  ScopedSysroot(const ScopedSysroot&) = delete;
  ScopedSysroot& operator=(const ScopedSysroot&) = delete;

  const std::string& root() const { return root_; }
  // Host path of a module path inside this sysroot.
  std::string path(const std::string& modulePath) const { return root_ + modulePath; }

 private:
  std::string root_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// Whole-file helpers; readFile returns "" when the file is missing.
std::string readFile(const std::string& hostPath);
bool writeFile(const std::string& hostPath, const std::string& content);
bool fileExists(const std::string& hostPath);
std::vector<std::string> readLines(const std::string& hostPath);

// Polls `condition` every 5 ms until it holds or `limit` passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// The build tree and the source tree, as ctest passes them.
std::string buildDir();
std::string sourceDir();

}  // namespace tavik::test
