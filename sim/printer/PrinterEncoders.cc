#include "sim/printer/PrinterModel.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "sim/printer/ModelBytes.h"

namespace tavik::sim {

using namespace model_detail;

namespace {

constexpr char kLockSalt[] = "QOLBERVUNZ";

// Characters a track accepts in character mode: track 1 is alphanumeric
// (0x20-0x5F, 79 characters), tracks 2 and 3 numeric (0x30-0x3F, 40 and 107).
bool trackDataValid(int track, const std::string& data) {
  static const size_t kMax[4] = {79, 40, 107, 69};
  if (data.size() > kMax[track]) return false;
  for (unsigned char c : data) {
    if (track == 0 && (c < 0x20 || c > 0x5F)) return false;
    if ((track == 1 || track == 2) && (c < 0x30 || c > 0x3F)) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- settings

bool PrinterModel::digestMatches(const uint8_t* digest) const {
  uint8_t input[20] = {};
  std::memcpy(input, password_.data(), 8);
  put16(input + 8, static_cast<uint32_t>(std::clamp(ribbonRemaining_, 0, 0xFFFF)));
  std::memcpy(input + 10, kLockSalt, 10);
  uint8_t md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(input, sizeof input, md, &len, EVP_md5(), nullptr) != 1 || len != 16) {
    return false;
  }
  return std::memcmp(md, digest, 16) == 0;
}

bool PrinterModel::handleSetting(const uint8_t* f, size_t n) {
  switch (f[1]) {
    case 0x03:
    case 0x0D: {  // parameters: data, then a short text field
      if (n < 3 + 1 + kShortField) return false;
      std::vector<uint8_t> data(f + 3, f + n - kShortField);
      (f[1] == 0x03 ? params_ : exParams_) = std::move(data);
      return true;
    }
    case 0x02:
    case 0x04:
      if (n < 3 + kLongField) return false;
      (f[1] == 0x02 ? serial_ : headSerial_) = field(f, 3, kLongField);
      return true;
    case 0x05:
    case 0x17: {  // password: the current one, then the new one
      if (n < 3 + 2 * kShortField) return false;
      if (std::memcmp(f + 3, password_.data(), kShortField) != 0) {
        faults_ |= word_b::kAuthentication;
        return true;
      }
      std::memcpy(password_.data(), f + 3 + kShortField, kShortField);
      return true;
    }
    case 0x06:  // identification: model, then vendor
      if (n < 3 + 2 * kShortField) return false;
      modelName_ = field(f, 3, kShortField);
      vendor_ = field(f, 3 + kShortField, kShortField);
      return true;
    case 0x0A:
      if (n < 3 + kShortField) return false;
      if (std::memcmp(f + 3, password_.data(), kShortField) != 0) {
        faults_ |= word_b::kAuthentication;
      } else {
        faults_ &= ~word_b::kAuthentication;
      }
      return true;
    case 0x07:
      if (n < 3 + kShortField) return false;
      pcName_ = field(f, 3, kShortField);
      return true;
    case 0x11:
    case 0x12: {  // issue counter: short text field, then the value
      if (n < 3 + kShortField + 1) return false;
      uint8_t v[4] = {};
      std::memcpy(v, f + 3 + kShortField, std::min<size_t>(4, n - 3 - kShortField));
      (f[1] == 0x11 ? userIssueCount_ : factIssueCount_) = le32(v);
      return true;
    }
    case 0x09:
      if (n < 3 + kShortField + 16) return false;
      std::memcpy(cryptKey_.data(), f + 3 + kShortField, 16);
      return true;
    case 0x21:
      if (n < 7) return false;
      bankSelector_ = le32(f + 3);
      return true;
    case 0x22:
      if (n < 7) return false;
      std::memcpy(banks_[bankSelector_].data(), f + 3, 4);
      return true;
    case 0x18:
    case 0x19:
      if (n < 19) return false;
      if (digestMatches(f + 3)) {
        locked_ = f[1] == 0x19;
        relockAt_.reset();
      }
      return true;
    case 0x1A:
      if (n < 23) return false;
      if (digestMatches(f + 3)) {
        locked_ = false;
        uint32_t seconds = std::min<uint32_t>(le32(f + 19), 3600);
        if (seconds > 0) relockAt_ = Clock::now() + scaled(static_cast<int>(seconds * 1000));
      }
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------- magnetic

std::string PrinterModel::crypt(const std::string& in) const {
  // The printer's own transport form: the data XORed with the key and a
  // position-dependent byte; applying it twice gives the data back.
  std::string out = in;
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<uint8_t>(out[i]) ^ cryptKey_[i % 16] ^
                               static_cast<uint8_t>(0xA5 + 31 * i));
  }
  return out;
}

std::vector<uint8_t> PrinterModel::getTracks(uint8_t selection, bool crypto) {
  std::vector<uint8_t> r;
  if (!(selection & 0x80)) {
    for (int t = 0; t < 4; ++t) {
      if (selection & (1 << t)) {
        std::string data = crypto ? crypt(trackBuffer_[t]) : trackBuffer_[t];
        return {data.begin(), data.end()};
      }
    }
    return {};
  }
  for (int t = 0; t < 4; ++t) {
    if (!(selection & (1 << t))) continue;
    std::string data = crypto ? crypt(trackBuffer_[t]) : trackBuffer_[t];
    data.resize(std::min(data.size(), kMaxTrack));
    r.push_back(static_cast<uint8_t>(1 << t));
    r.push_back(static_cast<uint8_t>(data.size()));
    r.insert(r.end(), data.begin(), data.end());
    // The plain form pads an empty record to three bytes.
    if (data.empty() && !crypto) r.push_back(0);
  }
  return r;
}

void PrinterModel::setTracks(uint8_t selection, const uint8_t* data, size_t size, bool crypto) {
  if (!(selection & 0x80)) {
    for (int t = 0; t < 4; ++t) {
      if (selection & (1 << t)) {
        std::string s(reinterpret_cast<const char*>(data), std::min(size, kMaxTrack));
        trackBuffer_[t] = crypto ? crypt(s) : s;
        return;
      }
    }
    return;
  }
  size_t offset = 0;
  while (size - offset >= 2) {
    uint8_t tag = data[offset];
    size_t len = data[offset + 1];
    offset += 2;
    if (len > size - offset) break;  // a record cut short ends the list
    std::string s(reinterpret_cast<const char*>(data + offset), len);
    offset += len;
    for (int t = 0; t < 4; ++t) {
      if (tag & (1 << t)) trackBuffer_[t] = crypto ? crypt(s) : s;
    }
  }
}

void PrinterModel::enqueueMagnetic(uint8_t selection, bool write) {
  int job = newJob();
  if (position_ != CardPosition::kMagnetic || !card_) {
    enqueueMove(job, CardPosition::kMagnetic, word_a::kToMagnetic, word_b::kToMagnetic);
  }
  enqueue(job, word_a::kMagnetic, config_.timings.magnetic, [this, selection, write] {
    if (!cardAction(word_b::kToMagnetic)) return false;
    const bool bitMode = (selection & 0x80) != 0;
    for (int t = 0; t < 4; ++t) {
      if (!(selection & (1 << t))) continue;
      if (write) {
        if (!bitMode && !trackDataValid(t, trackBuffer_[t])) {
          faults_ |= word_b::kMagnetic;
          return false;
        }
        card_->tracks[t] = trackBuffer_[t];
        card_->highCoercivity = (selection & 0x10) != 0;
      } else {
        trackBuffer_[t] = card_->tracks[t];
        // A blank track reads as an error of that track, not of the encoder.
        if (card_->tracks[t].empty() && t < 3) faults_ |= word_b::kReadTrack1 << t;
      }
    }
    return true;
  });
}

}  // namespace tavik::sim
