#include "sim/printer/PrinterModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "sim/printer/CardWriter.h"
#include "sim/printer/ModelBytes.h"

namespace tavik::sim {

using namespace model_detail;

namespace {

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
      writer_ = std::make_unique<CardWriter>(hostDir + "/cards", config_.announceCards);
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
