#include "tests/support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tavik::test {

ScopedSysroot::ScopedSysroot() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tavik-root-XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  root_ = made != nullptr ? made : "";
  const char* prev = std::getenv("TAVIK_ROOT");
  if (prev != nullptr) {
    hadPrevious_ = true;
    previous_ = prev;
  }
  ::setenv("TAVIK_ROOT", root_.c_str(), 1);
  for (const char* dir : {"/flash", "/dev", "/tmp", "/var/log", "/etc/network", "/sim", "/sbin",
                          "/proc/bus/usb"}) {
    std::filesystem::create_directories(root_ + dir);
  }
}

ScopedSysroot::~ScopedSysroot() {
  if (hadPrevious_) {
    ::setenv("TAVIK_ROOT", previous_.c_str(), 1);
  } else {
    ::unsetenv("TAVIK_ROOT");
  }
  std::error_code ec;
  if (!root_.empty()) {
    // Make read-only test directories removable again.
    for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ec)) {
      if (entry.is_directory(ec)) ::chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(root_, ec);
  }
}

std::string readFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool writeFile(const std::string& hostPath, const std::string& content) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool fileExists(const std::string& hostPath) { return ::access(hostPath.c_str(), F_OK) == 0; }

std::vector<std::string> readLines(const std::string& hostPath) {
  std::ifstream in(hostPath);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string buildDir() {
  const char* d = std::getenv("TAVIK_BUILD_DIR");
  return d != nullptr ? d : ".";
}

std::string sourceDir() {
  const char* d = std::getenv("TAVIK_SOURCE_DIR");
  return d != nullptr ? d : ".";
}

}  // namespace tavik::test
