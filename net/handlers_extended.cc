// Extended (factory and maintenance) settings: printer passwords, version
// and serial numbers, extended parameters, issue counters, identification,
// test modes.
#include <algorithm>
#include <string>
#include <vector>

#include "net/CommandTable.h"

namespace tavik {
namespace {

using handler::Data;
using handler::plainDevice;
using handler::rawQuery;
using handler::textDevice;

// Text replies go out in a 64-unit buffer: at most 63 characters and the
// 0 unit, 2n + 2 bytes for the n bytes the printer answered.
constexpr int kMaxTextReply = 63;

template <ResultCode (PrinterApi::*Op)(std::u16string*, int*)>
void textQuery(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  std::u16string text;
  int length = 0;
  ResultCode code = (e.api().*Op)(&text, &length);
  int n = std::max(0, std::min(length, kMaxTextReply));
  std::vector<uint8_t> out(size_t(2 * n + 2), 0);
  for (int i = 0; i < n && size_t(i) < text.size(); ++i) tvnp::storeU16(&out[2 * i], text[i]);
  handler::finish(e, name, code, Data{out.data(), out.size()});
}

// The handle and two texts.
template <ResultCode (PrinterApi::*Op)(const char16_t*, const char16_t*)>
void twoTexts(CommandEngine& e, const char* name) {
  std::u16string a, b;
  if (!handler::begin(e, name, 3, true) || !handler::textArg(e, name, 1, &a) ||
      !handler::textArg(e, name, 2, &b))
    return;
  handler::finish(e, name, (e.api().*Op)(a.c_str(), b.c_str()));
}

// The handle, bytes, then a text.
template <ResultCode (PrinterApi::*Op)(const char16_t*, const uint8_t*, int)>
void bytesThenText(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  std::u16string text;
  if (!handler::begin(e, name, 3, true) || !handler::bytesArg(e, name, 1, &d, &n) ||
      !handler::textArg(e, name, 2, &text))
    return;
  handler::finish(e, name, (e.api().*Op)(text.c_str(), d, int(n)));
}

// The handle, a text, then bytes.
template <ResultCode (PrinterApi::*Op)(const char16_t*, const uint8_t*, int)>
void textThenBytes(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  std::u16string text;
  if (!handler::begin(e, name, 3, true) || !handler::textArg(e, name, 1, &text) ||
      !handler::bytesArg(e, name, 2, &d, &n))
    return;
  handler::finish(e, name, (e.api().*Op)(text.c_str(), d, int(n)));
}

}  // namespace

void handleExSetPassword(CommandEngine& e, const char* n) {
  twoTexts<&PrinterApi::setPassword>(e, n);
}
void handleExSetUserPassword(CommandEngine& e, const char* n) {
  twoTexts<&PrinterApi::setUserPassword>(e, n);
}
void handleExSetDeviceId(CommandEngine& e, const char* n) {
  twoTexts<&PrinterApi::setDeviceId>(e, n);
}
void handleExGetVersion(CommandEngine& e, const char* n) {
  textQuery<&PrinterApi::getVersion>(e, n);
}
void handleExGetSerial(CommandEngine& e, const char* n) { textQuery<&PrinterApi::getSerial>(e, n); }
void handleExGetHeadSerial(CommandEngine& e, const char* n) {
  textQuery<&PrinterApi::getHeadSerial>(e, n);
}

void handleExSetDevExParam(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  std::u16string text;
  if (!handler::begin(e, name, 3, true) || !handler::bytesArg(e, name, 1, &d, &n) ||
      !handler::textArg(e, name, 2, &text))
    return;
  handler::finish(e, name, e.api().setDevExParam(d, int(n), text.c_str()));
}
void handleExSetUserIssueCount(CommandEngine& e, const char* n) {
  bytesThenText<&PrinterApi::setUserIssueCount>(e, n);
}
void handleExSetFactIssueCount(CommandEngine& e, const char* n) {
  bytesThenText<&PrinterApi::setFactIssueCount>(e, n);
}
void handleExSetPcName(CommandEngine& e, const char* n) {
  textThenBytes<&PrinterApi::setPcName>(e, n);
}
void handleExSetMagCryptKey(CommandEngine& e, const char* n) {
  textThenBytes<&PrinterApi::setMagCryptKey>(e, n);
}

void handleExToggleRunTest(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 7, true)) return;
  uint32_t type = 0;
  uint32_t values[5] = {};
  if (!handler::intArg(e, name, 1, &type)) return;
  for (uint32_t i = 0; i < 5; ++i)
    if (!handler::intArg(e, name, 2 + i, &values[i])) return;
  handler::finish(e, name, e.api().toggleRunTest(int32_t(type), values));
}

void handleExGetDevExParam(CommandEngine& e, const char* name) {
  rawQuery<&PrinterApi::getDevExParam>(e, name);
}
void handleExGetUserIssueCount(CommandEngine& e, const char* name) {
  rawQuery<&PrinterApi::getUserIssueCount>(e, name);
}
void handleExGetFactIssueCount(CommandEngine& e, const char* name) {
  rawQuery<&PrinterApi::getFactIssueCount>(e, name);
}
void handleExGetMonitorings(CommandEngine& e, const char* name) {
  rawQuery<&PrinterApi::getMonitorings>(e, name);
}
void handleExVerifyPassword(CommandEngine& e, const char* name) {
  textDevice<&PrinterApi::verifyPassword>(e, name);
}
void handleExSetSerial(CommandEngine& e, const char* name) {
  textDevice<&PrinterApi::setSerial>(e, name);
}
void handleExSetHeadSerial(CommandEngine& e, const char* name) {
  textDevice<&PrinterApi::setHeadSerial>(e, name);
}
void handleExAutoRotatorSet(CommandEngine& e, const char* name) {
  plainDevice<&PrinterApi::autoRotatorSet>(e, name);
}
void handleExToggleTestMode(CommandEngine& e, const char* name) {
  plainDevice<&PrinterApi::toggleTestMode>(e, name);
}

}  // namespace tavik
