// The sysroot seam: where a module path lives on this host.
// Public face of platform/. On the module TAVIK_ROOT is unset and every
// path is the module's own; on a development machine TAVIK_ROOT names a
// directory that stands in for the module's root file system.
#pragma once

#include <string>
#include <string_view>

namespace tavik::platform {

// The sysroot directory, or "" when TAVIK_ROOT is unset or empty.
std::string sysroot();

// Maps an absolute module path ("/flash/tavik_user") to the host path
// ("$TAVIK_ROOT/flash/tavik_user"). Relative paths and paths under an
// unset sysroot come back unchanged. This is the only place that joins
// the root to a path.
std::string hostPath(std::string_view modulePath);

}  // namespace tavik::platform
