#include "net/TvnpPacket.h"

#include <cstring>

namespace tavik::tvnp {

bool Reader::readU8(uint8_t* out) {
  if (remaining() < 1) return false;
  *out = data_[pos_++];
  return true;
}

bool Reader::readU16(uint16_t* out) {
  if (remaining() < 2) return false;
  *out = loadU16(data_ + pos_);
  pos_ += 2;
  return true;
}

bool Reader::readU32(uint32_t* out) {
  if (remaining() < 4) return false;
  *out = loadU32(data_ + pos_);
  pos_ += 4;
  return true;
}

bool Reader::readBytes(size_t n, const uint8_t** out) {
  if (remaining() < n) return false;
  *out = data_ + pos_;
  pos_ += n;
  return true;
}

bool Reader::skip(size_t n) {
  if (remaining() < n) return false;
  pos_ += n;
  return true;
}

bool parseHeader(const uint8_t* data, size_t size, Header* out) {
  if (data == nullptr || size < kHeaderSize || std::memcmp(data, "TVNP", 4) != 0) return false;
  Reader r(data + 4, kHeaderSize - 4);
  Header h;
  if (!r.readU32(&h.sequence) || !r.readU16(&h.command) || !r.readU16(&h.flags) ||
      !r.readU32(&h.count))
    return false;
  *out = h;
  return true;
}

void writeHeader(const Header& h, uint8_t* out16) {
  std::memcpy(out16, "TVNP", 4);
  storeU32(out16 + 4, h.sequence);
  storeU16(out16 + 8, h.command);
  storeU16(out16 + 10, h.flags);
  storeU32(out16 + 12, h.count);
}

bool packetSize(const uint8_t* table, size_t tableSize, uint64_t* size) {
  if (table == nullptr || tableSize < kHeaderSize) return false;
  uint64_t count = loadU32(table + 12);
  uint64_t need = kHeaderSize + 4 * count;
  if (tableSize < need) return false;
  uint64_t total = need;
  for (uint64_t i = 0; i < count; ++i) total += loadU32(table + kHeaderSize + 4 * i);
  *size = total;
  return true;
}

bool PacketView::parse(const uint8_t* data, size_t size, uint32_t maxArgs) {
  Header h;
  if (!parseHeader(data, size, &h) || h.count > maxArgs) return false;
  uint64_t total = 0;
  if (!packetSize(data, size, &total) || total != size) return false;
  data_ = data;
  size_ = size;
  header_ = h;
  return true;
}

bool PacketView::arg(uint32_t i, const uint8_t** data, uint32_t* length) const {
  if (data_ == nullptr || i >= header_.count) return false;
  uint64_t offset = kHeaderSize + 4ull * header_.count;
  for (uint32_t k = 0; k < i; ++k) offset += loadU32(data_ + kHeaderSize + 4 * k);
  uint32_t len = loadU32(data_ + kHeaderSize + 4ull * i);
  if (offset + len > size_) return false;  // parse() ruled this out; stay safe anyway
  *data = data_ + offset;
  *length = len;
  return true;
}

bool PacketView::argU32(uint32_t i, uint32_t* out) const {
  const uint8_t* p = nullptr;
  uint32_t len = 0;
  if (!arg(i, &p, &len) || len < 4) return false;
  *out = loadU32(p);
  return true;
}

bool PacketView::argText(uint32_t i, std::string* out) const {
  const uint8_t* p = nullptr;
  uint32_t len = 0;
  if (!arg(i, &p, &len)) return false;
  return decodeText(p, len, out);
}

bool decodeText(const uint8_t* data, size_t size, std::string* out) {
  std::string text;
  for (size_t off = 0; off + 2 <= size; off += 2) {
    uint16_t unit = loadU16(data + off);
    if (unit == 0) {
      *out = std::move(text);
      return true;
    }
    text.push_back(char(uint8_t(unit)));
  }
  return false;
}

std::vector<uint8_t> encodeText(std::string_view text) {
  std::vector<uint8_t> out(text.size() * 2 + 2, 0);
  for (size_t i = 0; i < text.size(); ++i) out[2 * i] = uint8_t(text[i]);
  return out;
}

std::vector<uint8_t> encodeU32(uint32_t value) {
  std::vector<uint8_t> out(4);
  storeU32(out.data(), value);
  return out;
}

std::vector<uint8_t> buildPacket(const Header& header, const std::vector<std::vector<uint8_t>>& args) {
  uint64_t total = kHeaderSize + 4ull * args.size();
  for (const auto& a : args) total += a.size();
  if (total > kMaxPacketSize) return {};
  std::vector<uint8_t> out(total);
  Header h = header;
  h.count = uint32_t(args.size());
  writeHeader(h, out.data());
  size_t pos = kHeaderSize;
  for (const auto& a : args) {
    storeU32(out.data() + pos, uint32_t(a.size()));
    pos += 4;
  }
  for (const auto& a : args) {
    if (!a.empty()) std::memcpy(out.data() + pos, a.data(), a.size());
    pos += a.size();
  }
  return out;
}

std::vector<uint8_t> buildRawFrame(char c0, char c1, uint8_t b2, uint8_t b3, const uint8_t* payload,
                                   size_t size) {
  if (size > kMaxPacketSize - kRawHeaderSize) return {};
  std::vector<uint8_t> out(kRawHeaderSize + size);
  out[0] = uint8_t(c0);
  out[1] = uint8_t(c1);
  out[2] = b2;
  out[3] = b3;
  storeU32(out.data() + 4, uint32_t(out.size()));
  if (size > 0) std::memcpy(out.data() + kRawHeaderSize, payload, size);
  return out;
}

bool rawHeaderValid(const uint8_t* header8, char c0, char c1, uint32_t* length) {
  uint32_t len = loadU32(header8 + 4);
  *length = len;
  return header8[0] == uint8_t(c0) && header8[1] == uint8_t(c1) && len >= kRawHeaderSize &&
         len <= kMaxPacketSize;
}

}  // namespace tavik::tvnp
