// Internal to render/: a look at an image file's header before the
// decoder sees it. A header can claim any size, and the decoder allocates
// the whole image before it reads a row: a small hostile upload could take
// the module's memory.
#pragma once

#include <cstdint>
#include <string>

namespace tavik {

// Largest image a DrawImage may decode: 4096 x 4096 (48 MiB decoded).
inline constexpr uint64_t kMaxImagePixels = uint64_t{4096} * 4096;

// False when the header of a BMP, JPEG, PBM/PGM/PPM, Sun raster or PNG
// file states more than kMaxImagePixels pixels (or either side more), or
// cannot be read. Other formats pass: the decoder's own limits apply.
bool imageSizeAllowed(const std::string& hostPath);

}  // namespace tavik
