#include "sim/printer/PrinterModel.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "sim/printer/CardWriter.h"

namespace tavik::sim {

namespace {

constexpr size_t kStatusSize = 12;
constexpr size_t kExtendedSize = 16;
constexpr size_t kShortField = 8;
constexpr size_t kLongField = 16;
constexpr uint32_t kMaxFrame = 6291456;
constexpr size_t kMaxTrack = 255;
constexpr size_t kMaxReplyFrame = 4096;
constexpr size_t kMaxHopper = 100000;
constexpr size_t kMaxKeptReject = 1u << 20;
constexpr char kLockSalt[] = "QOLBERVUNZ";

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void append32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A text field of the frame: its bytes up to the first zero.
std::string field(const uint8_t* f, size_t offset, size_t width) {
  std::string s;
  for (size_t i = 0; i < width && f[offset + i] != 0; ++i) s += static_cast<char>(f[offset + i]);
  return s;
}

std::vector<uint8_t> textReply(const std::string& s) { return {s.begin(), s.end()}; }

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

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

bool isReadRequest(const uint8_t* f) {
  if ((f[0] == 0x00 || f[0] == 0x02) && f[1] == 0x00) return true;
  if (f[0] == 0x40) return f[1] == 0x31 || f[1] == 0x32;
  if (f[0] != 0x50) return false;
  switch (f[1]) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x06: case 0x0B: case 0x0D:
    case 0x10: case 0x11: case 0x12: case 0x22:
      return true;
    default:
      return false;
  }
}

}  // namespace

const char* positionName(CardPosition p) {
  switch (p) {
    case CardPosition::kNone: return "none";
    case CardPosition::kIn: return "in";
    case CardPosition::kPrint: return "print";
    case CardPosition::kMagnetic: return "magnetic";
    case CardPosition::kContact: return "contact";
    case CardPosition::kContactless: return "contactless";
    case CardPosition::kFlipper: return "flipper";
    case CardPosition::kDevice: return "device";
    case CardPosition::kFromIn: return "from-in";
    case CardPosition::kFromOut: return "from-out";
  }
  return "?";
}

PrinterModel::PrinterModel(PrinterConfig config) : config_(std::move(config)) {
  setHopper(config_.hopperCount);
  ribbonRemaining_ = config_.ribbonRemaining;
  ribbonType_ = config_.ribbonType;
  vendor_ = config_.vendor;
  modelName_ = config_.modelName;
  version_ = config_.version;
  serial_ = config_.serial;
  headSerial_ = config_.headSerial;
  // Parameter blocks as a printer ships them: a version byte, then settings.
  params_ = {0x01, 0x00, 0x32, 0x32, 0x32, 0x00, 0x01, 0x00, 0x00, 0x00, 0x64, 0x00,
             0x00, 0x00, 0x00, 0x00};
  exParams_ = {0x01, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00};
}

PrinterModel::~PrinterModel() = default;

void PrinterModel::setRecordDir(const std::string& hostDir) {
  std::unique_ptr<CardWriter> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recordDir_ = hostDir;
    old = std::move(writer_);
    if (!hostDir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(hostDir + "/cards", ec);
      writer_ = std::make_unique<CardWriter>(hostDir + "/cards");
    }
  }
}

PrinterModel::Clock::duration PrinterModel::scaled(int printerMs) const {
  double us = static_cast<double>(printerMs) * 1000.0 * config_.timeScale;
  return std::chrono::microseconds(static_cast<int64_t>(std::llround(std::max(us, 0.0))));
}

// ---------------------------------------------------------------- time

void PrinterModel::advance() {
  const auto now = Clock::now();
  while (!queue_.empty()) {
    if (!currentStarted_) {
      currentEnd_ = nextStart_ + scaled(queue_.front().printerMs);
      currentStarted_ = true;
    }
    if (now < currentEnd_) break;
    Action a = std::move(queue_.front());
    queue_.pop_front();
    currentStarted_ = false;
    nextStart_ = currentEnd_;
    bool ok = !a.finish || a.finish();
    if (!ok) {
      // The mechanism stops: the rest of this job never happens.
      std::erase_if(queue_, [&](const Action& x) { return x.job == a.job; });
      headDown_ = false;
    }
  }
  if (relockAt_ && now >= *relockAt_) {
    locked_ = true;
    relockAt_.reset();
  }
  // Real time, not printer time: the gap is the host's, whatever the scale.
  if (!stream_.empty() &&
      now - lastData_ > std::chrono::milliseconds(config_.timings.receiveTimeout)) {
    std::vector<uint8_t> partial;
    partial.swap(stream_);
    rejectData(partial, "print data stopped arriving");
  }
}

void PrinterModel::enqueue(int job, uint32_t bitsA, int printerMs, std::function<bool()> finish) {
  if (queue_.empty()) {
    nextStart_ = Clock::now();
    currentStarted_ = false;
  }
  queue_.push_back(Action{bitsA, printerMs, job, std::move(finish)});
}

bool PrinterModel::takeInjected() {
  if (injectedNext_ == 0) return false;
  faults_ |= injectedNext_;
  injectedNext_ = 0;
  return true;
}

bool PrinterModel::cardAction(uint32_t fault) {
  if (takeInjected()) return false;
  if (coverOpen_ || !card_) {
    faults_ |= fault;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- status

uint32_t PrinterModel::wordALocked() const {
  using namespace word_a;
  const auto now = Clock::now();
  uint32_t a = kDualSide;
  if (!hopper_.empty()) a |= kHopperCard;
  if (!headDown_) a |= kHeadLifted;
  if (card_) {
    a |= kCardInside;
    if (position_ == CardPosition::kContact || position_ == CardPosition::kContactless ||
        position_ == CardPosition::kDevice) {
      a |= kCardAtStation;
    }
  }
  if (flipperTop_) a |= kFlipperTop;
  if (stream_.size() >= 1 && stream_[0] == 'C' && (stream_.size() < 2 || stream_[1] == 'P')) {
    a |= kReceiving;
  }
  if (heldImage_) a |= kSpoolData;
  if (sbs_) a |= kSbsMode;
  if (coverOpen_) a |= kCoverOpen;
  if (testMode_) a |= kTestMode;
  if (busyLatched_ || now < busyUntil_) a |= kSbsBusy;
  if (!queue_.empty()) a |= queue_.front().bitsA;
  return a;
}

uint8_t PrinterModel::positionCode() const { return static_cast<uint8_t>(position_); }

uint32_t PrinterModel::wordA() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return wordALocked();
}

uint32_t PrinterModel::wordB() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return faults_ | (locked_ ? word_b::kLocked : 0);
}

std::array<uint8_t, 12> PrinterModel::statusLocked() const {
  std::array<uint8_t, 12> s{};
  put32(&s[0], wordALocked());
  put32(&s[4], faults_ | (locked_ ? word_b::kLocked : 0));
  put16(&s[8], static_cast<uint32_t>(std::min<size_t>(hopper_.size(), 0xFFFF)));
  s[10] = positionCode();
  s[11] = static_cast<uint8_t>((card_ && card_->backUp ? 1 : 0) | (contacted_ ? 2 : 0) |
                               (headDown_ ? 4 : 0));
  return s;
}

std::array<uint8_t, 16> PrinterModel::extendedLocked() const {
  std::array<uint8_t, 16> s{};
  put32(&s[0], wordALocked());
  put32(&s[4], faults_ | (locked_ ? word_b::kLocked : 0));
  s[8] = static_cast<uint8_t>(ribbonType_);
  s[9] = static_cast<uint8_t>(headDown_ ? 48 : 35);  // head temperature
  put16(&s[10], static_cast<uint32_t>(std::clamp(ribbonRemaining_, 0, 0xFFFF)));
  put32(&s[12], cardsPrinted_);
  return s;
}

std::array<uint8_t, 12> PrinterModel::status() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return statusLocked();
}

std::array<uint8_t, 16> PrinterModel::extendedStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return extendedLocked();
}

// ---------------------------------------------------------------- USB side

std::string PrinterModel::deviceId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.deviceId;
}

std::string PrinterModel::idText() const { return vendor_ + " " + modelName_; }

std::vector<uint8_t> PrinterModel::commandRead(const uint8_t* f, size_t n) {
  if (n < 3) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return readLocked(f);
}

std::vector<uint8_t> PrinterModel::readLocked(const uint8_t* f) {
  if (f[0] == 0x00 && f[1] == 0x00) {
    auto s = statusLocked();
    return {s.begin(), s.end()};
  }
  if (f[0] == 0x02 && f[1] == 0x00) {
    auto s = extendedLocked();
    return {s.begin(), s.end()};
  }
  if (f[0] == 0x40 && (f[1] == 0x31 || f[1] == 0x32)) return getTracks(f[2], f[1] == 0x32);
  if (f[0] != 0x50) return {};
  std::vector<uint8_t> r;
  switch (f[1]) {
    case 0x01: return textReply(version_);
    case 0x02: return textReply(serial_);
    case 0x04: return textReply(headSerial_);
    case 0x06: return textReply(idText());
    case 0x03: return params_;
    case 0x0D: return exParams_;
    case 0x0B:  // monitorings: cards printed, fed, panels, cleanings, ribbon used
      append32(&r, cardsPrinted_);
      append32(&r, cardsFed_);
      append32(&r, panelsPrinted_);
      append32(&r, cleanings_);
      append32(&r, static_cast<uint32_t>(std::max(0, config_.ribbonRemaining - ribbonRemaining_)));
      return r;
    case 0x10:  // head and ambient temperature, degrees Celsius
      r.resize(4);
      put16(&r[0], headDown_ ? 48 : 35);
      put16(&r[2], 24);
      return r;
    case 0x11: append32(&r, userIssueCount_); return r;
    case 0x12: append32(&r, factIssueCount_); return r;
    case 0x22: {
      auto it = banks_.find(bankSelector_);
      if (it == banks_.end()) return {0, 0, 0, 0};
      return {it->second.begin(), it->second.end()};
    }
    default:
      return {};
  }
}

bool PrinterModel::commandWrite(const uint8_t* f, size_t n) {
  if (n < 3) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (f[0] == 0x40) return handleAction(f, n);
  if (f[0] == 0x50) return handleSetting(f, n);
  return false;
}

// ---------------------------------------------------------------- actions

void PrinterModel::enqueueMove(int job, CardPosition to, uint32_t bitA, uint32_t fault,
                               int offset) {
  enqueue(job, bitA, config_.timings.move, [this, to, fault, offset] {
    if (!cardAction(fault)) return false;
    position_ = to;
    positionOffset_ = offset;
    contacted_ = false;
    return true;
  });
}

void PrinterModel::enqueueFlip(int job, uint32_t bitFlip, uint32_t fault, int toTop) {
  enqueue(job, word_a::kToFlipper | bitFlip, config_.timings.rotate, [this, fault, toTop] {
    if (!cardAction(fault)) return false;
    card_->backUp = !card_->backUp;
    flipperTop_ = toTop < 0 ? !flipperTop_ : toTop == 1;
    position_ = CardPosition::kFlipper;
    contacted_ = false;
    return true;
  });
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

bool PrinterModel::handleAction(const uint8_t* f, size_t n) {
  using namespace word_a;
  const auto& t = config_.timings;
  switch (f[1]) {
    case 0x01:  // card in from the hopper
      enqueue(newJob(), kTakingIn, t.cardIn, [this] {
        if (takeInjected()) return false;
        if (coverOpen_ || locked_ || card_ || hopper_.empty()) {
          faults_ |= word_b::kCardIn;
          return false;
        }
        card_ = std::move(hopper_.front());
        hopper_.pop_front();
        card_->number = ++cardCounter_;
        card_->where = "inside";
        position_ = CardPosition::kIn;
        ++cardsFed_;
        return true;
      });
      return true;
    case 0x02:
    case 0x03: {  // card out to the stacker, or to the back
      const bool back = f[1] == 0x03;
      enqueue(newJob(), kEjecting, t.cardOut, [this, back] {
        if (!cardAction(back ? word_b::kEjectBack : word_b::kEject)) return false;
        card_->where = back ? "back" : "stacker";
        ejected_.push_back(std::move(*card_));
        card_.reset();
        position_ = CardPosition::kNone;
        contacted_ = false;
        return true;
      });
      return true;
    }
    case 0x05: enqueueMove(newJob(), CardPosition::kPrint, kToPrint, word_b::kToPrint); return true;
    case 0x06:
      enqueueMove(newJob(), CardPosition::kMagnetic, kToMagnetic, word_b::kToMagnetic);
      return true;
    case 0x07:
      enqueueMove(newJob(), CardPosition::kContact, kToContact, word_b::kToContact);
      return true;
    case 0x08:
      enqueueMove(newJob(), CardPosition::kContactless, kToContactless, word_b::kToContactless);
      return true;
    case 0x09:
      enqueueMove(newJob(), CardPosition::kFlipper, kToFlipper, word_b::kToFlipper);
      return true;
    case 0x0A:
      enqueueMove(newJob(), CardPosition::kDevice, kToPrinter, word_b::kToPrinter);
      return true;
    case 0x14:
      enqueueMove(newJob(), CardPosition::kFromIn, kToPrint, word_b::kToContactless,
                  static_cast<int8_t>(f[2]));
      return true;
    case 0x15:
      enqueueMove(newJob(), CardPosition::kFromOut, kToPrint, word_b::kToContact,
                  static_cast<int8_t>(f[2]));
      return true;
    case 0x1C:
      enqueueFlip(newJob(), flipperTop_ ? kFlipBottom : kFlipTop, word_b::kToFlipper, -1);
      return true;
    case 0x1A:
      enqueueFlip(newJob(), kFlipTop, word_b::kToFlipper | word_b::kFlipTop, 1);
      return true;
    case 0x1B:
      enqueueFlip(newJob(), kFlipBottom, word_b::kToFlipper | word_b::kFlipBottom, 0);
      return true;
    case 0x12:  // contact the smart-card reader: only at the contact station
      enqueue(newJob(), kContacting, t.contact, [this] {
        if (!cardAction(word_b::kContact)) return false;
        if (position_ != CardPosition::kContact) {
          faults_ |= word_b::kContact;
          return false;
        }
        contacted_ = true;
        return true;
      });
      return true;
    case 0x13:
      enqueue(newJob(), kDiscontacting, t.contact, [this] {
        if (takeInjected()) return false;
        contacted_ = false;
        return true;
      });
      return true;
    case 0x1E:  // cleaning needs the cover open and the hopper empty
      if (!coverOpen_ || !hopper_.empty()) return false;
      enqueue(newJob(), kTestMode, t.clean, [this] {
        ++cleanings_;
        return true;
      });
      return true;
    case 0x30:
      enqueueMagnetic(f[2], false);
      return true;
    case 0x40:
      enqueueMagnetic(f[2], true);
      return true;
    case 0x41:
    case 0x42:
      setTracks(f[2], f + 3, n - 3, f[1] == 0x42);
      return true;
    case 0x0B:  // print the page held in SBS mode
      if (!pagePending_ || !heldImage_) {
        faults_ |= word_b::kDataFault;
        return true;
      }
      pagePending_ = false;
      enqueuePrintJob(heldImage_, true);
      return true;
    case 0x0C:
    case 0x0D:
      sbs_ = f[1] == 0x0C;
      enqueue(newJob(), kSbsBusy, t.sbsCommand, nullptr);
      return true;
    case 0x0F:
      autoRotator_ = true;
      enqueue(newJob(), kSbsBusy, t.autoRotator, nullptr);
      return true;
    case 0x1D:
      testMode_ = !testMode_;
      return true;
    case 0x20: {  // LCD text: mode, line, text
      if (n < 5 || f[4] > 1) return false;
      std::string text(reinterpret_cast<const char*>(f + 5), n - 5);
      text = text.substr(0, text.find('\0'));
      while (!text.empty() && text.back() == ' ') text.pop_back();
      lcd_[f[4]] = text;
      return true;
    }
    case 0x21:
      ++beeps_;
      return true;
    case 0x70:
      lastRunTest_ = f[2];
      return true;
    case 0xF0:
      faults_ = 0;
      return true;
    case 0xF1:  // reboot: forget everything volatile, show initialising
      queue_.clear();
      headDown_ = false;
      sbs_ = false;
      testMode_ = false;
      contacted_ = false;
      faults_ = 0;
      trackBuffer_ = {};
      stream_.clear();
      heldImage_.reset();
      pagePending_ = false;
      replies_.clear();
      lcd_ = {};
      enqueue(newJob(), kInitialising, t.reboot, nullptr);
      return true;
    default:
      return false;
  }
}

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

// ---------------------------------------------------------------- printing

void PrinterModel::enqueuePrintJob(std::shared_ptr<const PrnImage> image, bool sbs) {
  using namespace word_a;
  const auto& t = config_.timings;
  // The whole job shows as printing (and as an SBS command in SBS mode), so
  // that a host waiting for the end of printing does not stop while the
  // card is still being fed.
  const uint32_t extra = kPrinting | (sbs ? kSbsBusy : 0);
  const int job = newJob();
  if (!sbs) {
    // Takes a card from the hopper unless one is inside already.
    enqueue(job, kTakingIn | extra, t.cardIn, [this] {
      if (takeInjected()) return false;
      if (card_) return true;
      if (coverOpen_ || locked_ || hopper_.empty()) {
        faults_ |= word_b::kCardIn | word_b::kPrinting;
        return false;
      }
      card_ = std::move(hopper_.front());
      hopper_.pop_front();
      card_->number = ++cardCounter_;
      card_->where = "inside";
      ++cardsFed_;
      position_ = CardPosition::kIn;
      return true;
    });
    enqueueMove(job, CardPosition::kPrint, kToPrint | extra,
                word_b::kToPrint | word_b::kPrinting);
    const bool backUp = card_ ? card_->backUp : false;
    if (backUp != image->isBack()) {
      enqueueFlip(job, kFlipBottom | extra, word_b::kToFlipper | word_b::kPrinting, -1);
      enqueueMove(job, CardPosition::kPrint, kToPrint | extra,
                  word_b::kToPrint | word_b::kPrinting);
    }
  }
  enqueue(job, kRibbonAlign | extra, t.ribbonAlign, [this] {
    if (takeInjected()) return false;
    if (!card_ || coverOpen_ || locked_) {
      faults_ |= word_b::kPrinting;
      return false;
    }
    if (ribbonEmpty_ || ribbonRemaining_ <= 0) {
      faults_ |= word_b::kRibbonEmpty;
      return false;
    }
    return true;
  });
  enqueue(job, kHeadLowering | extra, t.head, [this] {
    headDown_ = true;
    return true;
  });
  const int panels = static_cast<int>(std::max<size_t>(1, image->panels.size()));
  enqueue(job, kRibbonWind | extra, t.printPanel * panels,
          [this, image] { return finishPrinting(image); });
  enqueue(job, kHeadLifting | extra, t.head, [this] {
    headDown_ = false;
    return true;
  });
  if (!sbs) {
    enqueue(job, kEjecting | extra, t.cardOut, [this] {
      if (!cardAction(word_b::kEject)) return false;
      card_->where = "stacker";
      ejected_.push_back(std::move(*card_));
      card_.reset();
      position_ = CardPosition::kNone;
      return true;
    });
  }
}

bool PrinterModel::finishPrinting(const std::shared_ptr<const PrnImage>& image) {
  if (takeInjected()) return false;
  if (!card_ || coverOpen_) {
    faults_ |= word_b::kPrinting;
    return false;
  }
  PrintedSide side;
  side.card = card_->number;
  side.side = card_->backUp ? "back" : "front";
  side.image = image;
  (card_->backUp ? card_->backPrinted : card_->frontPrinted) = true;
  char base[64];
  std::snprintf(base, sizeof base, "card-%04d-%s", side.card, side.side.c_str());
  side.baseName = base;
  int again = 1;
  for (const auto& p : printed_) {
    if (p.card == side.card && p.side == side.side) ++again;
  }
  if (again > 1) side.baseName += "-" + std::to_string(again);
  --ribbonRemaining_;
  ++cardsPrinted_;
  ++userIssueCount_;
  ++factIssueCount_;
  panelsPrinted_ += static_cast<uint32_t>(image->panels.size());

  std::string panels;
  for (const auto& p : image->panels) {
    panels += (panels.empty() ? "" : " ") + p.name;
    if (p.encoding == 2) panels += "(lines " + std::to_string(p.firstLine) + "+" +
                                   std::to_string(p.lineCount) + ")";
  }
  std::string s = "card " + std::to_string(side.card) + ", " + side.side + " side\n";
  s += "image side: " + image->sideName() + ", lamination: " + image->lamination() + "\n";
  s += "panels: " + panels + "\n";
  s += "size: " + std::to_string(image->width) + " x " + std::to_string(image->height) + "\n";
  char flags[64];
  std::snprintf(flags, sizeof flags, "panel flags: 0x%03X, option flags: 0x%04X\n",
                image->panelFlags, image->optionFlags);
  s += flags;
  if (image->panel(kPanelO)) s += "overlay: printed (clear, not in the preview)\n";
  if (image->panel(kPanelF)) s += "fluorescent: printed (shows under UV only, not in the preview)\n";
  for (const auto& w : image->warnings) s += "warning: " + w + "\n";
  side.summary = s;
  printed_.push_back(side);
  if (writer_) writer_->submitCard(side.baseName, image, side.summary);
  return true;
}

// ---------------------------------------------------------------- data channel

void PrinterModel::rejectData(const std::vector<uint8_t>& bytes, const std::string& why) {
  faults_ |= word_b::kDataFault;
  ++rejectCounter_;
  if (!writer_) return;
  char name[32];
  std::snprintf(name, sizeof name, "bad-%04d", rejectCounter_);
  std::vector<uint8_t> kept(bytes.begin(),
                            bytes.begin() + static_cast<long>(std::min(bytes.size(), kMaxKeptReject)));
  writer_->submitRaw(std::string(name) + ".prn", std::move(kept));
  std::string reason = why + "\n";
  writer_->submitRaw(std::string(name) + ".txt", {reason.begin(), reason.end()});
}

void PrinterModel::handleImage(const std::vector<uint8_t>& frame) {
  auto image = std::make_shared<PrnImage>();
  std::string error;
  if (!decodePrnImage(frame.data(), frame.size(), image.get(), &error)) {
    rejectData(frame, error);
    return;
  }
  heldImage_ = image;
  if (sbs_) {
    pagePending_ = true;  // waits for the print command
  } else {
    enqueuePrintJob(image, false);
  }
}

void PrinterModel::handleCc(const std::vector<uint8_t>& frame) {
  const uint8_t* cmd = frame.data() + 8;
  const size_t n = frame.size() - 8;
  if (n < 3) return;
  if (n == 3 && isReadRequest(cmd)) {
    std::vector<uint8_t> answer = readLocked(cmd);
    if (answer.empty()) return;
    answer.resize(std::min(answer.size(), kMaxReplyFrame));
    uint8_t head[8] = {'C', 'C', 0x02, 0x00};
    put32(head + 4, static_cast<uint32_t>(8 + answer.size()));
    replies_.insert(replies_.end(), head, head + 8);
    replies_.insert(replies_.end(), answer.begin(), answer.end());
    return;
  }
  if (cmd[0] == 0x40) {
    handleAction(cmd, n);
  } else if (cmd[0] == 0x50) {
    handleSetting(cmd, n);
  }
}

void PrinterModel::parseDataStream() {
  while (!stream_.empty()) {
    if (stream_[0] != 'C' || (stream_.size() >= 2 && stream_[1] != 'P' && stream_[1] != 'C')) {
      // Not a frame: skip to the next frame start and keep the rest as rejected.
      size_t next = stream_.size();
      for (size_t i = 1; i + 1 < stream_.size(); ++i) {
        if (stream_[i] == 'C' && (stream_[i + 1] == 'P' || stream_[i + 1] == 'C')) {
          next = i;
          break;
        }
      }
      std::vector<uint8_t> junk(stream_.begin(), stream_.begin() + static_cast<long>(next));
      stream_.erase(stream_.begin(), stream_.begin() + static_cast<long>(next));
      rejectData(junk, "data that is no print frame");
      continue;
    }
    if (stream_.size() < 8) return;
    uint32_t length = le32(stream_.data() + 4);
    if (length < 8 || length > kMaxFrame) {
      std::vector<uint8_t> junk;
      junk.swap(stream_);
      rejectData(junk, "print frame length " + std::to_string(length) + " out of range");
      return;
    }
    if (stream_.size() < length) return;
    std::vector<uint8_t> frame(stream_.begin(), stream_.begin() + length);
    stream_.erase(stream_.begin(), stream_.begin() + length);
    if (frame[1] == 'P') {
      handleImage(frame);
    } else {
      handleCc(frame);
    }
  }
}

void PrinterModel::printData(const uint8_t* data, size_t size) {
  if (size == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (stream_.empty() && data[0] == 'C' && (size < 2 || data[1] == 'P')) {
    // A new image starts: the old one is gone, and so is its data fault.
    heldImage_.reset();
    pagePending_ = false;
    faults_ &= ~word_b::kDataFault;
  }
  stream_.insert(stream_.end(), data, data + size);
  lastData_ = Clock::now();
  parseDataStream();
}

std::vector<uint8_t> PrinterModel::takeReply(size_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = std::min(maxBytes, replies_.size());
  std::vector<uint8_t> out(replies_.begin(), replies_.begin() + static_cast<long>(n));
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<long>(n));
  return out;
}

bool PrinterModel::hasReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !replies_.empty();
}

// ---------------------------------------------------------------- tests and control

std::string PrinterModel::stateJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  char words[96];
  std::snprintf(words, sizeof words, "\"wordA\":\"0x%08X\",\"wordB\":\"0x%08X\"", wordALocked(),
                faults_ | (locked_ ? word_b::kLocked : 0));
  std::string s = "{";
  s += words;
  s += ",\"hopper\":" + std::to_string(hopper_.size());
  s += ",\"card\":" + std::string(card_ ? std::to_string(card_->number) : "null");
  s += ",\"position\":" + jsonString(positionName(position_));
  s += ",\"positionOffset\":" + std::to_string(positionOffset_);
  s += ",\"backUp\":" + std::string(card_ && card_->backUp ? "true" : "false");
  s += ",\"flipperTop\":" + std::string(flipperTop_ ? "true" : "false");
  s += ",\"contacted\":" + std::string(contacted_ ? "true" : "false");
  s += ",\"headDown\":" + std::string(headDown_ ? "true" : "false");
  s += ",\"cover\":" + jsonString(coverOpen_ ? "open" : "closed");
  s += ",\"ribbonType\":" + std::to_string(ribbonType_);
  s += ",\"ribbonRemaining\":" + std::to_string(ribbonRemaining_);
  s += ",\"ribbonEmpty\":" + std::string(ribbonEmpty_ ? "true" : "false");
  s += ",\"sbs\":" + std::string(sbs_ ? "true" : "false");
  s += ",\"testMode\":" + std::string(testMode_ ? "true" : "false");
  s += ",\"locked\":" + std::string(locked_ ? "true" : "false");
  s += ",\"busy\":" + std::string(queue_.empty() ? "false" : "true");
  s += ",\"pagePending\":" + std::string(pagePending_ ? "true" : "false");
  s += ",\"timeScale\":" + std::to_string(config_.timeScale);
  s += ",\"id\":" + jsonString(idText());
  s += ",\"serial\":" + jsonString(serial_);
  s += ",\"headSerial\":" + jsonString(headSerial_);
  s += ",\"pcName\":" + jsonString(pcName_);
  s += ",\"lcd\":[" + jsonString(lcd_[0]) + "," + jsonString(lcd_[1]) + "]";
  s += ",\"beeps\":" + std::to_string(beeps_);
  s += ",\"runTest\":" + std::to_string(lastRunTest_);
  s += ",\"autoRotator\":" + std::string(autoRotator_ ? "true" : "false");
  s += ",\"cardsPrinted\":" + std::to_string(cardsPrinted_);
  s += ",\"cardsEjected\":" + std::to_string(ejected_.size());
  s += ",\"cleanings\":" + std::to_string(cleanings_);
  s += ",\"userIssueCount\":" + std::to_string(userIssueCount_);
  s += ",\"factIssueCount\":" + std::to_string(factIssueCount_);
  s += ",\"trackBuffer\":[";
  for (int t = 0; t < 4; ++t) s += (t ? "," : "") + jsonString(trackBuffer_[t]);
  s += "]}";
  return s;
}

namespace {

std::string cardRecordJson(const CardRecord& c) {
  std::string s = "{\"number\":" + std::to_string(c.number);
  s += ",\"where\":" + jsonString(c.where);
  s += ",\"backUp\":" + std::string(c.backUp ? "true" : "false");
  s += ",\"frontPrinted\":" + std::string(c.frontPrinted ? "true" : "false");
  s += ",\"backPrinted\":" + std::string(c.backPrinted ? "true" : "false");
  s += ",\"highCoercivity\":" + std::string(c.highCoercivity ? "true" : "false");
  s += ",\"tracks\":[";
  for (int t = 0; t < 4; ++t) s += (t ? "," : "") + jsonString(c.tracks[t]);
  return s + "]}";
}

}  // namespace

std::string PrinterModel::cardJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (card_) return cardRecordJson(*card_);
  if (!ejected_.empty()) return cardRecordJson(ejected_.back());
  return "null";
}

std::string PrinterModel::lastPrintedJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (printed_.empty()) return "null";
  const PrintedSide& p = printed_.back();
  std::string s = "{\"card\":" + std::to_string(p.card);
  s += ",\"side\":" + jsonString(p.side);
  s += ",\"imageSide\":" + jsonString(p.image->sideName());
  s += ",\"lamination\":" + jsonString(p.image->lamination());
  s += ",\"width\":" + std::to_string(p.image->width);
  s += ",\"height\":" + std::to_string(p.image->height);
  s += ",\"panels\":[";
  bool first = true;
  for (const auto& panel : p.image->panels) {
    s += (first ? "" : ",") + jsonString(panel.name);
    first = false;
  }
  s += "],\"files\":" + jsonString(recordDir_.empty() ? "" : recordDir_ + "/cards/" + p.baseName);
  return s + "}";
}

std::optional<PrintedSide> PrinterModel::lastPrinted() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (printed_.empty()) return std::nullopt;
  return printed_.back();
}

std::vector<PrintedSide> PrinterModel::printedSides() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return printed_;
}

std::optional<CardRecord> PrinterModel::cardInside() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return card_;
}

std::vector<CardRecord> PrinterModel::ejectedCards() {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  return ejected_;
}

std::string PrinterModel::password() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::string(reinterpret_cast<const char*>(password_.data()),
                     strnlen(reinterpret_cast<const char*>(password_.data()), 8));
}

bool PrinterModel::waitForCardFiles(size_t count, std::chrono::milliseconds limit) {
  CardWriter* writer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writer = writer_.get();
  }
  return writer != nullptr && writer->waitCards(count, limit);
}

void PrinterModel::setTimeScale(double scale) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  config_.timeScale = scale > 0 ? scale : 1.0;
}

double PrinterModel::timeScale() {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.timeScale;
}

void PrinterModel::setHopper(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  size_t n = static_cast<size_t>(std::clamp<int64_t>(count, 0, kMaxHopper));
  hopper_.resize(n);
}

void PrinterModel::loadCard(const CardRecord& card) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (hopper_.size() >= kMaxHopper) return;
  CardRecord c = card;
  c.number = 0;
  c.where = "hopper";
  hopper_.push_back(std::move(c));
}

void PrinterModel::setCoverOpen(bool open) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  coverOpen_ = open;
}

void PrinterModel::setRibbon(int remaining, int type) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  ribbonRemaining_ = std::clamp(remaining, 0, 0xFFFF);
  if (type >= 0) ribbonType_ = std::min(type, 255);
}

void PrinterModel::setRibbonType(int type) {
  std::lock_guard<std::mutex> lock(mutex_);
  ribbonType_ = std::clamp(type, 0, 255);
}

void PrinterModel::setRibbonEmpty(bool empty) {
  std::lock_guard<std::mutex> lock(mutex_);
  ribbonEmpty_ = empty;
}

void PrinterModel::setBusy(int printerMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  busyUntil_ = Clock::now() + scaled(printerMs);
}

void PrinterModel::setBusyLatched(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  busyLatched_ = on;
}

void PrinterModel::injectFault(uint32_t bitsB) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ |= bitsB & ~word_b::kLocked;
}

void PrinterModel::failNextAction(uint32_t bitsB) {
  std::lock_guard<std::mutex> lock(mutex_);
  injectedNext_ = bitsB & ~word_b::kLocked;
}

void PrinterModel::clearStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ = 0;
}

void PrinterModel::setPassword(const std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  password_.fill(0);
  std::memcpy(password_.data(), password.data(), std::min<size_t>(8, password.size()));
}

void PrinterModel::setLocked(bool locked) {
  std::lock_guard<std::mutex> lock(mutex_);
  locked_ = locked;
  relockAt_.reset();
}

void PrinterModel::setSbs(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  sbs_ = on;
}

void PrinterModel::setTestMode(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  testMode_ = on;
}

void PrinterModel::placeCard(CardPosition position) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (position == CardPosition::kNone) {
    card_.reset();
  } else if (!card_) {
    card_ = CardRecord{};
    card_->number = ++cardCounter_;
    card_->where = "inside";
  }
  position_ = position;
}

}  // namespace tavik::sim
