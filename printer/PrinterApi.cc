// PrinterApi: frame helpers, status and identity queries, setting commands,
// actions without card movement and the status waits.
#include "printer/PrinterApi.h"

#include <algorithm>
#include <cstring>

namespace tavik {

namespace {

constexpr size_t kStatusCapacity = 32;
constexpr size_t kRawCapacity = 1024;
constexpr size_t kTextCapacity = 256;
constexpr size_t kShortText = 8;
constexpr size_t kLongText = 16;
constexpr int kPollMs = 100;
constexpr int kDefaultBusyLimitMs = 1000;
constexpr int kMotionPolls = 100;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putLe32(std::vector<uint8_t>* frame, uint32_t v) {
  for (int i = 0; i < 4; ++i) frame->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Fills `field` bytes at `offset` (already zero) from a 16-bit text: low
// bytes, cut at the field's size; the zero after it comes from the clearing.
void putText(std::vector<uint8_t>* frame, size_t offset, size_t field, const char16_t* text) {
  if (text == nullptr) return;
  for (size_t i = 0; i < field && text[i] != 0; ++i) {
    (*frame)[offset + i] = static_cast<uint8_t>(text[i] & 0xFF);
  }
}

std::vector<uint8_t> head(uint8_t c0, uint8_t c1, uint8_t c2, size_t total) {
  std::vector<uint8_t> frame(total, 0);
  frame[0] = c0;
  frame[1] = c1;
  frame[2] = c2;
  return frame;
}

}  // namespace

std::string narrowText(const char16_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; text[i] != 0; ++i) out += static_cast<char>(text[i] & 0xFF);
  return out;
}

std::u16string widenText(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<char16_t>(static_cast<uint8_t>(c));
  return out;
}

PrinterApi::PrinterApi(PrinterPort& port) : port_(port) {}

ResultCode PrinterApi::send(const std::vector<uint8_t>& frame, bool needPositive) {
  if (frame.size() > PrinterPort::kMaxRequestSize) return rc::kErrInvalidParameter;
  int result = port_.commandWrite(frame.data(), frame.size());
  if (result < 0 || (needPositive && result == 0)) return rc::kErrCommunication;
  return rc::kSuccess;
}

ResultCode PrinterApi::request(uint8_t c0, uint8_t c1, uint8_t c2, size_t capacity,
                               std::vector<uint8_t>* reply) {
  std::vector<uint8_t> buffer(std::max<size_t>(capacity, 3), 0);
  const uint8_t frame[3] = {c0, c1, c2};
  int n = port_.commandRead(frame, sizeof frame, buffer.data(), buffer.size());
  if (n < 0) return rc::kErrCommunication;
  buffer.resize(std::min(static_cast<size_t>(n), buffer.size()));
  *reply = std::move(buffer);
  return rc::kSuccess;
}

// ---- status and identity queries ----

ResultCode PrinterApi::getStatus(PrinterStatus* status) {
  uint8_t raw[8];
  ResultCode r = getStatus(raw);
  if (r != rc::kSuccess) return r;
  if (status != nullptr) {
    status->a = le32(raw);
    status->b = le32(raw + 4);
  }
  return rc::kSuccess;
}

ResultCode PrinterApi::getStatus(uint8_t out[8]) {
  std::vector<uint8_t> reply;
  ResultCode r = request(0x00, 0x00, 0x00, kStatusCapacity, &reply);
  if (r != rc::kSuccess) return r;
  // Fewer than the two words would hand out bytes the printer never sent.
  if (reply.size() < 8) return rc::kErrCommunication;
  if (out != nullptr) std::memcpy(out, reply.data(), 8);
  return rc::kSuccess;
}

ResultCode PrinterApi::readExtended(std::vector<uint8_t>* reply) {
  return request(0x02, 0x00, 0x00, kStatusCapacity, reply);
}

ResultCode PrinterApi::getStatus2(std::vector<uint8_t>* reply) {
  std::vector<uint8_t> ext;
  ResultCode r = readExtended(&ext);
  if (r != rc::kSuccess) return r;
  if (ext.empty()) return rc::kErrCommunication;
  if (reply != nullptr) *reply = std::move(ext);
  return rc::kSuccess;
}

ResultCode PrinterApi::getRibbonType(uint32_t* type) {
  std::vector<uint8_t> ext;
  ResultCode r = readExtended(&ext);
  if (r != rc::kSuccess) return r;
  if (ext.size() < 9) return rc::kErrCommunication;
  if (type != nullptr) *type = ext[8];
  return rc::kSuccess;
}

ResultCode PrinterApi::getRibbonRemain(uint32_t* remain) {
  std::vector<uint8_t> ext;
  ResultCode r = readExtended(&ext);
  if (r != rc::kSuccess) return r;
  if (ext.size() < 12) return rc::kErrCommunication;
  if (remain != nullptr) *remain = static_cast<uint32_t>(ext[10]) | static_cast<uint32_t>(ext[11]) << 8;
  return rc::kSuccess;
}

ResultCode PrinterApi::getTemperature(uint32_t* first, uint32_t* second) {
  std::vector<uint8_t> reply;
  ResultCode r = request(0x50, 0x10, 0x00, kStatusCapacity, &reply);
  if (r != rc::kSuccess) return r;
  if (reply.size() <= 3) return rc::kErrCommunication;
  if (first != nullptr) *first = static_cast<uint32_t>(reply[0]) | static_cast<uint32_t>(reply[1]) << 8;
  if (second != nullptr) *second = static_cast<uint32_t>(reply[2]) | static_cast<uint32_t>(reply[3]) << 8;
  return rc::kSuccess;
}

ResultCode PrinterApi::rawQuery(uint8_t code, bool allowEmpty, std::vector<uint8_t>* reply) {
  std::vector<uint8_t> got;
  ResultCode r = request(0x50, code, 0x00, kRawCapacity, &got);
  if (r != rc::kSuccess) return r;
  if (!allowEmpty && got.empty()) return rc::kErrCommunication;
  if (reply != nullptr) *reply = std::move(got);
  return rc::kSuccess;
}

ResultCode PrinterApi::getDevParam(std::vector<uint8_t>* reply) { return rawQuery(0x03, false, reply); }
ResultCode PrinterApi::getDevExParam(std::vector<uint8_t>* reply) { return rawQuery(0x0D, true, reply); }
ResultCode PrinterApi::getMonitorings(std::vector<uint8_t>* reply) { return rawQuery(0x0B, true, reply); }
ResultCode PrinterApi::getUserIssueCount(std::vector<uint8_t>* reply) { return rawQuery(0x11, true, reply); }
ResultCode PrinterApi::getFactIssueCount(std::vector<uint8_t>* reply) { return rawQuery(0x12, true, reply); }

ResultCode PrinterApi::textQuery(uint8_t code, std::u16string* text, int* length) {
  std::vector<uint8_t> reply;
  ResultCode r = request(0x50, code, 0x00, kTextCapacity, &reply);
  if (r != rc::kSuccess) return r;
  auto end = std::find(reply.begin(), reply.end(), 0);
  if (text != nullptr) {
    text->clear();
    for (auto it = reply.begin(); it != end; ++it) *text += static_cast<char16_t>(*it);
  }
  if (length != nullptr) *length = static_cast<int>(reply.size());
  return rc::kSuccess;
}

ResultCode PrinterApi::getVersion(std::u16string* text, int* length) { return textQuery(0x01, text, length); }
ResultCode PrinterApi::getSerial(std::u16string* text, int* length) { return textQuery(0x02, text, length); }
ResultCode PrinterApi::getHeadSerial(std::u16string* text, int* length) { return textQuery(0x04, text, length); }

ResultCode PrinterApi::usbGetCommand(const uint8_t* frame, int requestLength, int capacity,
                                     std::vector<uint8_t>* reply) {
  if (frame == nullptr || requestLength != 3) return rc::kFail;
  if (capacity < 3) return rc::kErrInvalidParameter;
  std::vector<uint8_t> got;
  ResultCode r = request(frame[0], frame[1], frame[2], static_cast<size_t>(capacity), &got);
  if (r != rc::kSuccess) return r;
  if (reply != nullptr) *reply = std::move(got);
  return rc::kSuccess;
}

// ---- setting commands ----

ResultCode PrinterApi::dataAndText(uint8_t code, const uint8_t* data, int length,
                                   const char16_t* text, bool textFirst) {
  if (data == nullptr || length < 1) return rc::kFail;
  size_t n = static_cast<size_t>(length);
  if (n + 3 + kShortText > PrinterPort::kMaxRequestSize) return rc::kErrInvalidParameter;
  std::vector<uint8_t> frame = head(0x50, code, 0x00, n + 3 + kShortText);
  size_t dataAt = textFirst ? 3 + kShortText : 3;
  size_t textAt = textFirst ? 3 : 3 + n;
  std::memcpy(frame.data() + dataAt, data, n);
  putText(&frame, textAt, kShortText, text);
  return send(frame);
}

ResultCode PrinterApi::twoTexts(uint8_t code, const char16_t* first, const char16_t* second) {
  std::vector<uint8_t> frame = head(0x50, code, 0x00, 3 + 2 * kShortText);
  putText(&frame, 3, kShortText, first);
  putText(&frame, 3 + kShortText, kShortText, second);
  return send(frame);
}

ResultCode PrinterApi::setDevParam(const uint8_t* data, int length, const char16_t* text) {
  return dataAndText(0x03, data, length, text, false);
}
ResultCode PrinterApi::setDevExParam(const uint8_t* data, int length, const char16_t* text) {
  return dataAndText(0x0D, data, length, text, false);
}
ResultCode PrinterApi::setPcName(const char16_t* name, const uint8_t* data, int length) {
  return dataAndText(0x07, data, length, name, true);
}
ResultCode PrinterApi::setUserIssueCount(const char16_t* text, const uint8_t* data, int length) {
  return dataAndText(0x11, data, length, text, true);
}
ResultCode PrinterApi::setFactIssueCount(const char16_t* text, const uint8_t* data, int length) {
  return dataAndText(0x12, data, length, text, true);
}

ResultCode PrinterApi::setSerial(const char16_t* serial) {
  std::vector<uint8_t> frame = head(0x50, 0x02, 0x00, 3 + kLongText);
  putText(&frame, 3, kLongText, serial);
  return send(frame);
}

ResultCode PrinterApi::setHeadSerial(const char16_t* serial) {
  std::vector<uint8_t> frame = head(0x50, 0x04, 0x00, 3 + kLongText);
  putText(&frame, 3, kLongText, serial);
  return send(frame);
}

ResultCode PrinterApi::setPassword(const char16_t* first, const char16_t* second) {
  return twoTexts(0x05, first, second);
}
ResultCode PrinterApi::setUserPassword(const char16_t* first, const char16_t* second) {
  return twoTexts(0x17, first, second);
}
ResultCode PrinterApi::setDeviceId(const char16_t* first, const char16_t* second) {
  return twoTexts(0x06, second, first);
}

ResultCode PrinterApi::verifyPassword(const char16_t* password) {
  std::vector<uint8_t> frame = head(0x50, 0x0A, 0x00, 3 + kShortText);
  putText(&frame, 3, kShortText, password);
  return send(frame);
}

ResultCode PrinterApi::setMagCryptKey(const char16_t* text, const uint8_t* key, int length) {
  if (key == nullptr || length < 1) return rc::kFail;
  std::vector<uint8_t> frame = head(0x50, 0x09, 0x00, 3 + kShortText + 16);
  putText(&frame, 3, kShortText, text);
  std::memcpy(frame.data() + 3 + kShortText, key, std::min(length, 16));
  return send(frame);
}

ResultCode PrinterApi::usbSetCommand(const uint8_t* frame, int length) {
  if (frame == nullptr || length < 3) return rc::kFail;
  return send(std::vector<uint8_t>(frame, frame + length));
}

// ---- actions without card movement ----

ResultCode PrinterApi::beep() { return send(head(0x40, 0x21, 0x00, 3)); }
ResultCode PrinterApi::reboot() { return send(head(0x40, 0xF1, 0x00, 3)); }
ResultCode PrinterApi::clearStatus() { return prepare(); }
ResultCode PrinterApi::sbsStart() { return send(head(0x40, 0x0C, 0x00, 3)); }
ResultCode PrinterApi::sbsEnd() { return send(head(0x40, 0x0D, 0x00, 3)); }

ResultCode PrinterApi::toggleTestMode() {
  ResultCode r = send(head(0x40, 0x1D, 0x00, 3));
  if (r != rc::kSuccess) return r;
  return waitNotBusy(kDefaultBusyLimitMs);
}

ResultCode PrinterApi::autoRotatorSet() {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  r = send(head(0x40, 0x0F, 0x00, 3));
  if (r != rc::kSuccess) return r;
  sleepMs(500);
  return waitNotBusy(10000);
}

ResultCode PrinterApi::setLcdText(int mode, int line, const char16_t* text) {
  if (mode < 0 || line < 0 || text == nullptr) return rc::kErrInvalidParameter;
  std::string narrow = narrowText(text);
  size_t width = mode == 1 ? 21 : 16;
  if (narrow.size() < width) narrow.append(width - narrow.size(), ' ');
  std::vector<uint8_t> frame = head(0x40, 0x20, 0x00, 3);
  frame.push_back(static_cast<uint8_t>(mode));
  frame.push_back(static_cast<uint8_t>(line));
  frame.insert(frame.end(), narrow.begin(), narrow.end());
  ResultCode r = send(frame);
  if (r != rc::kSuccess) return r;
  return waitNotBusy(kDefaultBusyLimitMs);
}

ResultCode PrinterApi::toggleRunTest(int type, const uint32_t values[5]) {
  int count = 0;
  switch (type) {
    case 2:
    case 5:
      count = 1;
      break;
    case 4:
      count = 2;
      break;
    case 7:
    case 8:
    case 9:
      count = 5;
      break;
    default:
      break;
  }
  std::vector<uint8_t> frame = head(0x40, 0x70, static_cast<uint8_t>(type), 3);
  for (int i = 0; i < count; ++i) putLe32(&frame, values != nullptr ? values[i] : 0);
  return send(frame);
}

// ---- waits ----

ResultCode PrinterApi::prepare() {
  ResultCode r = send(head(0x40, 0xF0, 0x00, 3));
  if (r != rc::kSuccess) return r;
  return waitNotBusy(kDefaultBusyLimitMs);
}

ResultCode PrinterApi::waitNotBusy(int limitMs) {
  if (limitMs <= 0) limitMs = kDefaultBusyLimitMs;
  int elapsed = 0;
  for (;;) {
    sleepMs(kPollMs);
    PrinterStatus st;
    ResultCode r = getStatus(&st);
    if (r != rc::kSuccess) return r;
    elapsed += kPollMs;
    if ((st.a & status_a::kSbsRunning) == 0) {
      sleepMs(kPollMs);
      return rc::kSuccess;
    }
    if (elapsed >= limitMs) return rc::kErrTimeout;
  }
}

ResultCode PrinterApi::waitMotion(uint32_t maskA, uint32_t maskB, ResultCode faultCode) {
  CoverWatch cover;
  for (int poll = 0; poll < kMotionPolls; ++poll) {
    sleepMs(kPollMs);
    PrinterStatus st;
    ResultCode r = getStatus(&st);
    if (r != rc::kSuccess) return r;
    if (cover.openTwice(st)) return rc::kErrCaseOpen;
    if ((st.a & status_a::kActivity) == 0) {
      sleepMs(kPollMs);
      return ((st.b & maskB) != 0 || (st.a & maskA) != 0) ? faultCode : rc::kSuccess;
    }
  }
  return rc::kErrTimeout;
}

}  // namespace tavik
