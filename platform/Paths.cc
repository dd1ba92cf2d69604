#include "platform/Paths.h"

#include <cstdlib>

namespace tavik::platform {

std::string sysroot() {
  const char* root = std::getenv("TAVIK_ROOT");
  if (root == nullptr || *root == '\0') return {};
  std::string r(root);
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::string hostPath(std::string_view modulePath) {
  std::string root = sysroot();
  if (root.empty() || modulePath.empty() || modulePath.front() != '/') {
    return std::string(modulePath);
  }
  return root + std::string(modulePath);
}

}  // namespace tavik::platform
