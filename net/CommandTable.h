// The table from TVCID identifier to command handler and logged name, and
// the helpers every handler shares (argument and handle checks, the reply
// for a failed or successful operation). Internal to net/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/CommandEngine.h"
#include "net/TvnpPacket.h"
#include "printer/PrinterApi.h"
#include "printer/ResultCodes.h"

namespace tavik {

// A handler leaves a reply built and logs under `name`.
using CommandHandler = void (*)(CommandEngine& engine, const char* name);

struct CommandEntry {
  uint16_t id;
  CommandHandler handler;
  const char* name;
};

// The entry for an identifier, or null for an unknown one.
const CommandEntry* findCommand(uint16_t id);
// Flags 0x0800, result 0xFFFFFFFF.
void handleBadCommand(CommandEngine& engine, const char* name);

namespace handler {

using Data = CommandEngine::Data;

// Replies result-only with the error bit and logs the name at level 1.
void fail(CommandEngine& e, const char* name, uint16_t errorBit, uint32_t result = rc::kFail);
// The first steps of every handler: argument count (0x0200), then for a
// device command the handle in argument 0 (0x0200 when shorter than 4
// bytes, 0x2000 when it is not this connection's). False when a failure
// reply has been built.
bool begin(CommandEngine& e, const char* name, uint32_t argCount, bool device);
// Typed argument access that replies 0x0200 itself on a malformed argument.
bool intArg(CommandEngine& e, const char* name, uint32_t i, uint32_t* out);
bool textArg(CommandEngine& e, const char* name, uint32_t i, std::u16string* out);
bool bytesArg(CommandEngine& e, const char* name, uint32_t i, const uint8_t** data, uint32_t* length);
// The operation's outcome: 0x0400 with its code, or success with outputs.
// Logs the name at `level`.
void finish(CommandEngine& e, const char* name, ResultCode code, int level = 1);
void finish(CommandEngine& e, const char* name, ResultCode code, Data a1, int level = 1);
void finish(CommandEngine& e, const char* name, ResultCode code, Data a1, Data a2, int level = 1);

// The device-session handlers need to drop the connection's smart-card
// reader link when the printer is opened or closed.
void dropCardLink(CommandEngine& e);

// Shapes that many commands share.
// The handle only; nothing returned.
template <ResultCode (PrinterApi::*Op)()>
void plainDevice(CommandEngine& e, const char* name) {
  if (!begin(e, name, 1, true)) return;
  finish(e, name, (e.api().*Op)());
}

// The handle only; the printer's raw reply returned.
template <ResultCode (PrinterApi::*Op)(std::vector<uint8_t>*)>
void rawQuery(CommandEngine& e, const char* name) {
  if (!begin(e, name, 1, true)) return;
  std::vector<uint8_t> reply;
  ResultCode code = (e.api().*Op)(&reply);
  finish(e, name, code, Data{reply.data(), reply.size()});
}

// The handle and one text.
template <ResultCode (PrinterApi::*Op)(const char16_t*)>
void textDevice(CommandEngine& e, const char* name) {
  std::u16string text;
  if (!begin(e, name, 2, true) || !textArg(e, name, 1, &text)) return;
  finish(e, name, (e.api().*Op)(text.c_str()));
}

}  // namespace handler

// Handlers by command group (one file each).
void handleIsOpenDevice(CommandEngine&, const char*);
void handleOpenDevice(CommandEngine&, const char*);
void handleCloseDevice(CommandEngine&, const char*);

void handleGetStatus(CommandEngine&, const char*);
void handleGetStatus2(CommandEngine&, const char*);
void handleGetRibbonType(CommandEngine&, const char*);
void handleGetRibbonRemain(CommandEngine&, const char*);
void handleClearStatus(CommandEngine&, const char*);
void handleReboot(CommandEngine&, const char*);
void handleSetLcdText(CommandEngine&, const char*);
void handleBeep(CommandEngine&, const char*);
void handleNotSupported(CommandEngine&, const char*);
void handleGetTemperature(CommandEngine&, const char*);
void handleGetDevParam(CommandEngine&, const char*);
void handleSetDevParam(CommandEngine&, const char*);
void handleLockPrinter2(CommandEngine&, const char*);
void handleUnlockPrinter2(CommandEngine&, const char*);
void handleUnlockPrinter3(CommandEngine&, const char*);

void handleSbsStart(CommandEngine&, const char*);
void handleSbsEnd(CommandEngine&, const char*);
void handleCardIn(CommandEngine&, const char*);
void handleCardOut(CommandEngine&, const char*);
void handleCardOutBack(CommandEngine&, const char*);
void handleMove(CommandEngine&, const char*);
void handleIcContact(CommandEngine&, const char*);
void handleIcDiscontact(CommandEngine&, const char*);
void handleRotate(CommandEngine&, const char*);
void handleMoveFromIn(CommandEngine&, const char*);
void handleMoveFromOut(CommandEngine&, const char*);
void handleRotate180(CommandEngine&, const char*);
void handleDoCleaning(CommandEngine&, const char*);

void handlePrint(CommandEngine&, const char*);
void handleDoPrint(CommandEngine&, const char*);
void handleDoPrint2(CommandEngine&, const char*);

void handleRawSetData(CommandEngine&, const char*);
void handleRawGetData(CommandEngine&, const char*);
void handleRawSetDataBank(CommandEngine&, const char*);
void handleRawGetDataBank(CommandEngine&, const char*);

void handleExVerifyPassword(CommandEngine&, const char*);
void handleExSetPassword(CommandEngine&, const char*);
void handleExSetUserPassword(CommandEngine&, const char*);
void handleExGetVersion(CommandEngine&, const char*);
void handleExGetSerial(CommandEngine&, const char*);
void handleExSetSerial(CommandEngine&, const char*);
void handleExGetHeadSerial(CommandEngine&, const char*);
void handleExSetHeadSerial(CommandEngine&, const char*);
void handleExGetDevExParam(CommandEngine&, const char*);
void handleExSetDevExParam(CommandEngine&, const char*);
void handleExGetUserIssueCount(CommandEngine&, const char*);
void handleExSetUserIssueCount(CommandEngine&, const char*);
void handleExGetFactIssueCount(CommandEngine&, const char*);
void handleExSetFactIssueCount(CommandEngine&, const char*);
void handleExSetDeviceId(CommandEngine&, const char*);
void handleExSetPcName(CommandEngine&, const char*);
void handleExSetMagCryptKey(CommandEngine&, const char*);
void handleExAutoRotatorSet(CommandEngine&, const char*);
void handleExGetMonitorings(CommandEngine&, const char*);
void handleExToggleTestMode(CommandEngine&, const char*);
void handleExToggleRunTest(CommandEngine&, const char*);

void handleExUsbGetCommand(CommandEngine&, const char*);
void handleExUsbSetCommand(CommandEngine&, const char*);

}  // namespace tavik
