// The printer's two status words in words, for PC-side display. Public face
// of tools/client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavik::client {

// One phrase per set bit of status word A (state) and word B (faults).
std::vector<std::string> describeStatusA(uint32_t a);
std::vector<std::string> describeStatusB(uint32_t b);

}  // namespace tavik::client
