#include "net/CommandTable.h"

#include "net/TvnpCommands.h"
#include "printer/PrinterApi.h"

namespace tavik {
namespace {

// Encoder and module-administration commands join this table with their
// own handler files; until then they are unknown (bad command).
constexpr CommandEntry kCommands[] = {
    {tvcid::kIsOpenDevice, handleIsOpenDevice, "TVCID_ISOPENDEVICE"},
    {tvcid::kOpenDevice, handleOpenDevice, "TVCID_OPENDEVICE"},
    {tvcid::kCloseDevice, handleCloseDevice, "TVCID_CLOSEDEVICE"},
    {tvcid::kOpenDeviceAlias, handleOpenDevice, "TVCID_OPENDEVICE"},
    {tvcid::kCloseDeviceAlias, handleCloseDevice, "TVCID_CLOSEDEVICE"},
    {tvcid::kPrintAlias, handlePrint, "TVCID_PRINT"},

    {tvcid::kGetStatus, handleGetStatus, "TVCID_GETSTATUS"},
    {tvcid::kGetRibbonType, handleGetRibbonType, "TVCID_GETRIBBONTYPE"},
    {tvcid::kGetRibbonRemain, handleGetRibbonRemain, "TVCID_GETRIBBONREMAIN"},
    {tvcid::kClearStatus, handleClearStatus, "TVCID_CLEARSTATUS"},
    {tvcid::kReboot, handleReboot, "TVCID_REBOOT"},
    {tvcid::kSetLcdText, handleSetLcdText, "TVCID_SETLCDTEXT"},
    {tvcid::kBeep, handleBeep, "TVCID_BEEP"},
    {tvcid::kGetVersion, handleNotSupported, "TVCID_GETVERSION"},
    {tvcid::kGetPrinterName, handleNotSupported, "TVCID_GETPRINTERNAME"},
    {tvcid::kGetStatus2, handleGetStatus2, "TVCID_GETSTATUS2"},
    {tvcid::kGetTemperature, handleGetTemperature, "TVCID_GETTEMPERATURE"},
    {tvcid::kGetDevParam, handleGetDevParam, "TVCID_GETDEVPARAM"},
    {tvcid::kSetDevParam, handleSetDevParam, "TVCID_SETDEVPARAM"},
    {tvcid::kLockPrinter2, handleLockPrinter2, "TVCID_LOCKPRINTER2"},
    {tvcid::kUnlockPrinter2, handleUnlockPrinter2, "TVCID_UNLOCKPRINTER2"},
    {tvcid::kUnlockPrinter3, handleUnlockPrinter3, "TVCID_UNLOCKPRINTER3"},

    {tvcid::kSbsStart, handleSbsStart, "TVCID_SBSSTART"},
    {tvcid::kSbsEnd, handleSbsEnd, "TVCID_SBSEND"},
    {tvcid::kCardIn, handleCardIn, "TVCID_CARDIN"},
    {tvcid::kCardOut, handleCardOut, "TVCID_CARDOUT"},
    {tvcid::kCardOutBack, handleCardOutBack, "TVCID_CARDOUTBACK"},
    {tvcid::kMove, handleMove, "TVCID_MOVE"},
    {tvcid::kIcContact, handleIcContact, "TVCID_ICHCONTACT"},
    {tvcid::kIcDiscontact, handleIcDiscontact, "TVCID_ICHDISCONTACT"},
    {tvcid::kRotate, handleRotate, "TVCID_ROTATE"},
    {tvcid::kMoveFromIn, handleMoveFromIn, "TVCID_MOVEFROMIN"},
    {tvcid::kMoveFromOut, handleMoveFromOut, "TVCID_MOVEFROMOUT"},
    {tvcid::kRotate180, handleRotate180, "TVCID_ROTATE180"},
    {tvcid::kDoCleaning, handleDoCleaning, "TVCID_DOCLEANING"},

    {tvcid::kPrint, handlePrint, "TVCID_PRINT"},
    {tvcid::kDoPrint, handleDoPrint, "TVCID_DOPRINT"},
    {tvcid::kDoPrint2, handleDoPrint2, "TVCID_DOPRINT2"},

    {tvcid::kRawSetData, handleRawSetData, "TVCID_RAW_SETDATA"},
    {tvcid::kRawGetData, handleRawGetData, "TVCID_RAW_GETDATA"},
    {tvcid::kRawSetDataBank, handleRawSetDataBank, "TVCID_RAW_SETDATABANK"},
    {tvcid::kRawGetDataBank, handleRawGetDataBank, "TVCID_RAW_GETDATABANK"},

    {tvcid::kExVerifyPassword, handleExVerifyPassword, "TVCID_EX_VERIFYPASSWORD"},
    {tvcid::kExSetPassword, handleExSetPassword, "TVCID_EX_SETPASSWORD"},
    {tvcid::kExSetUserPassword, handleExSetUserPassword, "TVCID_EX_SETUSERPASSWORD"},
    {tvcid::kExGetVersion, handleExGetVersion, "TVCID_EX_GETVERSION"},
    {tvcid::kExGetSerial, handleExGetSerial, "TVCID_EX_GETSERIAL"},
    {tvcid::kExSetSerial, handleExSetSerial, "TVCID_EX_SETSERIAL"},
    {tvcid::kExGetHeadSerial, handleExGetHeadSerial, "TVCID_EX_GETHEADSERIAL"},
    {tvcid::kExSetHeadSerial, handleExSetHeadSerial, "TVCID_EX_SETHEADSERIAL"},
    {tvcid::kExGetDevExParam, handleExGetDevExParam, "TVCID_EX_GETDEVEXPARAM"},
    {tvcid::kExSetDevExParam, handleExSetDevExParam, "TVCID_EX_SETDEVEXPARAM"},
    {tvcid::kExGetUserIssueCount, handleExGetUserIssueCount, "TVCID_EX_GETUSERISSUECOUNT"},
    {tvcid::kExSetUserIssueCount, handleExSetUserIssueCount, "TVCID_EX_SETUSERISSUECOUNT"},
    {tvcid::kExGetFactIssueCount, handleExGetFactIssueCount, "TVCID_EX_GETFACTISSUECOUNT"},
    {tvcid::kExSetFactIssueCount, handleExSetFactIssueCount, "TVCID_EX_SETFACTISSUECOUNT"},
    {tvcid::kExSetDeviceId, handleExSetDeviceId, "TVCID_EX_SETDEVICEID"},
    {tvcid::kExSetPcName, handleExSetPcName, "TVCID_EX_SETPCNAME"},
    {tvcid::kExSetMagCryptKey, handleExSetMagCryptKey, "TVCID_EX_SETMAGCRYPTKEY"},
    {tvcid::kExAutoRotatorSet, handleExAutoRotatorSet, "TVCID_EX_AUTOROTATORSET"},
    {tvcid::kExGetMonitorings, handleExGetMonitorings, "TVCID_EX_GETMONITORINGS"},
    {tvcid::kExToggleTestMode, handleExToggleTestMode, "TVCID_EX_TOGGLETESTMODE"},
    {tvcid::kExToggleRunTest, handleExToggleRunTest, "TVCID_EX_TOGGLERUNTEST"},

    {tvcid::kExUsbGetCommand, handleExUsbGetCommand, "TVCID_EX_USBGETCOMMAND"},
    {tvcid::kExUsbSetCommand, handleExUsbSetCommand, "TVCID_EX_USBSETCOMMAND"},
};

}  // namespace

const CommandEntry* findCommand(uint16_t id) {
  for (const CommandEntry& e : kCommands)
    if (e.id == id) return &e;
  return nullptr;
}

void handleBadCommand(CommandEngine& e, const char* name) {
  e.setState(CommandEngine::kReplyReady);
  handler::fail(e, name, tvnp::kFlagBadCommand);
}

namespace handler {

void fail(CommandEngine& e, const char* name, uint16_t errorBit, uint32_t result) {
  e.buildReply(errorBit, result);
  e.logLine(1, name);
}

bool begin(CommandEngine& e, const char* name, uint32_t argCount, bool device) {
  e.setState(CommandEngine::kReplyReady);
  if (!e.checkArgCount(argCount)) {
    fail(e, name, tvnp::kFlagArgument);
    return false;
  }
  if (device) {
    uint32_t h = 0;
    if (!e.argU32(0, &h)) {
      fail(e, name, tvnp::kFlagArgument);
      return false;
    }
    if (h != e.session()) {
      fail(e, name, tvnp::kFlagHandle);
      return false;
    }
  }
  return true;
}

bool intArg(CommandEngine& e, const char* name, uint32_t i, uint32_t* out) {
  if (e.argU32(i, out)) return true;
  fail(e, name, tvnp::kFlagArgument);
  return false;
}

bool textArg(CommandEngine& e, const char* name, uint32_t i, std::u16string* out) {
  if (e.argText(i, out)) return true;
  fail(e, name, tvnp::kFlagArgument);
  return false;
}

bool bytesArg(CommandEngine& e, const char* name, uint32_t i, const uint8_t** data,
              uint32_t* length) {
  if (e.argBytes(i, data, length)) return true;
  fail(e, name, tvnp::kFlagArgument);
  return false;
}

void finish(CommandEngine& e, const char* name, ResultCode code, int level) {
  if (code != rc::kSuccess) e.buildReply(tvnp::kFlagExecution, code);
  else e.buildReply(0, rc::kSuccess);
  e.logLine(level, name);
}

void finish(CommandEngine& e, const char* name, ResultCode code, Data a1, int level) {
  if (code != rc::kSuccess) e.buildReply(tvnp::kFlagExecution, code);
  else e.buildReply(0, rc::kSuccess, a1);
  e.logLine(level, name);
}

void finish(CommandEngine& e, const char* name, ResultCode code, Data a1, Data a2, int level) {
  if (code != rc::kSuccess) e.buildReply(tvnp::kFlagExecution, code);
  else e.buildReply(0, rc::kSuccess, a1, a2);
  e.logLine(level, name);
}

void dropCardLink(CommandEngine& e) {
#ifdef TAVIK_HAVE_SMARTCARD
  e.api().releaseCard();
#else
  (void)e;  // built without the smart-card bridge: no reader link can exist
#endif
}

}  // namespace handler
}  // namespace tavik
