// The TVNP packet on the wire: a 16-byte header ("TVNP", sequence, command,
// flags, count), a table of argument lengths and the arguments' bytes, all
// little-endian. Shared by the module's command engine and the PC-side
// client. Public face of net/ for anyone who reads or writes packets; every
// reader here is bounds-checked and never looks past the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::tvnp {

inline constexpr size_t kHeaderSize = 16;
// Largest packet and largest raw frame, header included.
inline constexpr uint32_t kMaxPacketSize = 0x600000;
// Arguments a request may carry (the engine keeps at most this many lengths).
inline constexpr uint32_t kMaxRequestArgs = 12;
// An argument length counts as valid only below this.
inline constexpr uint32_t kMaxArgLength = 0x80000000u;
inline constexpr size_t kRawHeaderSize = 8;
// A raw command frame's answer holds at most this many bytes.
inline constexpr size_t kMaxRawAnswer = 4096;

inline constexpr uint16_t kFlagRequest = 0x0001;
inline constexpr uint16_t kFlagReply = 0x0002;
inline constexpr uint16_t kFlagArgument = 0x0200;
inline constexpr uint16_t kFlagExecution = 0x0400;
inline constexpr uint16_t kFlagBadCommand = 0x0800;
inline constexpr uint16_t kFlagHandle = 0x2000;
inline constexpr uint16_t kFlagAuth = 0x4000;
inline constexpr uint16_t kFlagBusy = 0x8000;

// Little-endian access to a buffer the caller has already sized.
inline uint16_t loadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t loadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void storeU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void storeU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Sequential reader over outside bytes: every read checks what is left and
// fails (returns false, leaving the output untouched) instead of running off.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool readU8(uint8_t* out);
  bool readU16(uint16_t* out);
  bool readU32(uint32_t* out);
  bool readBytes(size_t n, const uint8_t** out);
  bool skip(size_t n);
  size_t remaining() const { return size_ - pos_; }
  size_t position() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

struct Header {
  uint32_t sequence = 0;
  uint16_t command = 0;
  uint16_t flags = 0;
  uint32_t count = 0;
};

// Reads a 16-byte header; false when fewer than 16 bytes or the magic is not
// "TVNP".
bool parseHeader(const uint8_t* data, size_t size, Header* out);
void writeHeader(const Header& h, uint8_t* out16);

// Total packet size from a complete argument table (header + 4 * count
// lengths), computed in 64 bits. Returns false when the table is shorter than
// its count says.
bool packetSize(const uint8_t* table, size_t tableSize, uint64_t* size);

// A complete packet held elsewhere; argument access stays inside it.
class PacketView {
 public:
  // Checks that the bytes hold exactly one whole packet with at most
  // maxArgs arguments. Returns false for anything else.
  bool parse(const uint8_t* data, size_t size, uint32_t maxArgs = kMaxRequestArgs);
  const Header& header() const { return header_; }
  uint32_t count() const { return header_.count; }
  // Argument i: false when i is out of range.
  bool arg(uint32_t i, const uint8_t** data, uint32_t* length) const;
  // The first 4 bytes of argument i; false when it is missing or shorter.
  bool argU32(uint32_t i, uint32_t* out) const;
  // A text argument reduced to 8-bit characters; false when it is missing or
  // holds no 0 unit inside its length.
  bool argText(uint32_t i, std::string* out) const;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  Header header_;
};

// Text on the wire: UTF-16LE units ending with a 0 unit inside the length.
// Keeps the low byte of each unit; false when no 0 unit ends it in range.
bool decodeText(const uint8_t* data, size_t size, std::string* out);
// Widens each 8-bit character to one unit and appends the 0 unit.
std::vector<uint8_t> encodeText(std::string_view text);
std::vector<uint8_t> encodeU32(uint32_t value);

// A whole packet. Returns an empty vector when the arguments would make the
// packet larger than kMaxPacketSize.
std::vector<uint8_t> buildPacket(const Header& header, const std::vector<std::vector<uint8_t>>& args);

// Raw frames ("CP" print, "CC" command): 2 characters, 2 free bytes, the
// 32-bit length of the whole frame, then the payload.
std::vector<uint8_t> buildRawFrame(char c0, char c1, uint8_t b2, uint8_t b3, const uint8_t* payload,
                                   size_t size);
// Checks a raw frame header: kind characters and a length of 8..kMaxPacketSize.
bool rawHeaderValid(const uint8_t* header8, char c0, char c1, uint32_t* length);

}  // namespace tavik::tvnp
