// Byte helpers and limits shared by the virtual printer's model files.
// Internal to sim/printer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavik::sim::model_detail {

constexpr size_t kShortField = 8;   // short text field of a setting frame
constexpr size_t kLongField = 16;   // long text field (serial numbers)
constexpr uint32_t kMaxFrame = 6291456;  // largest "CP"/"CC" frame
constexpr size_t kMaxTrack = 255;   // one-byte length of a track record
constexpr size_t kMaxReplyFrame = 4096;
constexpr size_t kMaxHopper = 100000;
constexpr size_t kMaxKeptReject = 1u << 20;  // bytes kept of rejected data

inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void append32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A text field of the frame: its bytes up to the first zero.
inline std::string field(const uint8_t* f, size_t offset, size_t width) {
  std::string s;
  for (size_t i = 0; i < width && f[offset + i] != 0; ++i) s += static_cast<char>(f[offset + i]);
  return s;
}

}  // namespace tavik::sim::model_detail
