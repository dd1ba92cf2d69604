// Printer status and settings: status words, ribbon, display, beep,
// temperatures, device parameters and the printer's password lock.
#include <algorithm>
#include <cstring>
#include <vector>

#include "net/CommandTable.h"
#include "printer/PrinterApi.h"

namespace tavik {
using handler::Data;
using handler::plainDevice;
using handler::rawQuery;
using handler::textDevice;

void handleGetStatus(CommandEngine& e, const char* name) {
  // Argument 0 is any value: monitoring tools poll without a handle.
  if (!handler::begin(e, name, 1, false)) return;
  uint8_t status[8] = {};
  ResultCode code = e.api().getStatus(status);
  handler::finish(e, name, code, Data{status, sizeof status});
}

void handleGetStatus2(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, false)) return;
  std::vector<uint8_t> reply;
  ResultCode code = e.api().getStatus2(&reply);
  // Clients expect 32 bytes; the printer answers 16, the rest stays zero.
  uint8_t out[32] = {};
  if (!reply.empty()) std::memcpy(out, reply.data(), std::min(reply.size(), sizeof out));
  handler::finish(e, name, code, Data{out, sizeof out});
}

void handleGetRibbonType(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  uint32_t value = 0;
  ResultCode code = e.api().getRibbonType(&value);
  uint8_t out[4];
  tvnp::storeU32(out, value);
  handler::finish(e, name, code, Data{out, 4});
}

void handleGetRibbonRemain(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  uint32_t value = 0;
  ResultCode code = e.api().getRibbonRemain(&value);
  uint8_t out[4];
  tvnp::storeU32(out, value);
  handler::finish(e, name, code, Data{out, 4});
}

void handleClearStatus(CommandEngine& e, const char* name) {
  plainDevice<&PrinterApi::clearStatus>(e, name);
}

void handleReboot(CommandEngine& e, const char* name) { plainDevice<&PrinterApi::reboot>(e, name); }

void handleSetLcdText(CommandEngine& e, const char* name) {
  uint32_t mode = 0, line = 0;
  std::u16string text;
  if (!handler::begin(e, name, 4, true) || !handler::intArg(e, name, 1, &mode) ||
      !handler::intArg(e, name, 2, &line) || !handler::textArg(e, name, 3, &text))
    return;
  handler::finish(e, name, e.api().setLcdText(int32_t(mode), int32_t(line), text.c_str()));
}

void handleBeep(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 2, true)) return;
  handler::finish(e, name, e.api().beep());
}

void handleNotSupported(CommandEngine& e, const char* name) {
  e.setState(CommandEngine::kReplyReady);
  handler::fail(e, name, tvnp::kFlagArgument);
}

void handleGetTemperature(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  uint32_t first = 0, second = 0;
  ResultCode code = e.api().getTemperature(&first, &second);
  uint8_t a[2], b[2];
  tvnp::storeU16(a, uint16_t(first));
  tvnp::storeU16(b, uint16_t(second));
  handler::finish(e, name, code, Data{a, 2}, Data{b, 2});
}

void handleGetDevParam(CommandEngine& e, const char* name) {
  rawQuery<&PrinterApi::getDevParam>(e, name);
}

void handleSetDevParam(CommandEngine& e, const char* name) {
  const uint8_t* data;
  uint32_t length;
  std::u16string text;
  if (!handler::begin(e, name, 3, true) || !handler::bytesArg(e, name, 1, &data, &length) ||
      !handler::textArg(e, name, 2, &text))
    return;
  handler::finish(e, name, e.api().setDevParam(data, int(length), text.c_str()));
}

void handleLockPrinter2(CommandEngine& e, const char* name) {
  textDevice<&PrinterApi::lockPrinter2>(e, name);
}

void handleUnlockPrinter2(CommandEngine& e, const char* name) {
  textDevice<&PrinterApi::unlockPrinter2>(e, name);
}

void handleUnlockPrinter3(CommandEngine& e, const char* name) {
  std::u16string password;
  uint32_t seconds = 0;
  if (!handler::begin(e, name, 3, true) || !handler::textArg(e, name, 1, &password) ||
      !handler::intArg(e, name, 2, &seconds))
    return;
  handler::finish(e, name, e.api().unlockPrinter3(password.c_str(), int32_t(seconds)));
}

}  // namespace tavik
