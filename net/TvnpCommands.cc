#include "net/TvnpCommands.h"

#include <cctype>
#include <iterator>

namespace tavik::tvcid {
namespace {

struct Named {
  uint16_t id;
  const char* name;
};

// Aliases (1000, 1001, 1002) share the name of the command they repeat.
constexpr Named kNames[] = {
    {kIsOpenDevice, "TVCID_ISOPENDEVICE"},
    {kOpenDevice, "TVCID_OPENDEVICE"},
    {kCloseDevice, "TVCID_CLOSEDEVICE"},
    {kOpenDeviceAlias, "TVCID_OPENDEVICE"},
    {kCloseDeviceAlias, "TVCID_CLOSEDEVICE"},
    {kPrintAlias, "TVCID_PRINT"},
    {kGetStatus, "TVCID_GETSTATUS"},
    {kGetRibbonType, "TVCID_GETRIBBONTYPE"},
    {kGetRibbonRemain, "TVCID_GETRIBBONREMAIN"},
    {kClearStatus, "TVCID_CLEARSTATUS"},
    {kReboot, "TVCID_REBOOT"},
    {kSetLcdText, "TVCID_SETLCDTEXT"},
    {kBeep, "TVCID_BEEP"},
    {kGetVersion, "TVCID_GETVERSION"},
    {kGetPrinterName, "TVCID_GETPRINTERNAME"},
    {kGetStatus2, "TVCID_GETSTATUS2"},
    {kGetTemperature, "TVCID_GETTEMPERATURE"},
    {kGetDevParam, "TVCID_GETDEVPARAM"},
    {kSetDevParam, "TVCID_SETDEVPARAM"},
    {kLockPrinter2, "TVCID_LOCKPRINTER2"},
    {kUnlockPrinter2, "TVCID_UNLOCKPRINTER2"},
    {kUnlockPrinter3, "TVCID_UNLOCKPRINTER3"},
    {kSbsStart, "TVCID_SBSSTART"},
    {kSbsEnd, "TVCID_SBSEND"},
    {kCardIn, "TVCID_CARDIN"},
    {kCardOut, "TVCID_CARDOUT"},
    {kCardOutBack, "TVCID_CARDOUTBACK"},
    {kMove, "TVCID_MOVE"},
    {kIcContact, "TVCID_ICHCONTACT"},
    {kIcDiscontact, "TVCID_ICHDISCONTACT"},
    {kRotate, "TVCID_ROTATE"},
    {kMoveFromIn, "TVCID_MOVEFROMIN"},
    {kMoveFromOut, "TVCID_MOVEFROMOUT"},
    {kRotate180, "TVCID_ROTATE180"},
    {kDoCleaning, "TVCID_DOCLEANING"},
    {kPrint, "TVCID_PRINT"},
    {kDoPrint, "TVCID_DOPRINT"},
    {kDoPrint2, "TVCID_DOPRINT2"},
    {kRawSetData, "TVCID_RAW_SETDATA"},
    {kRawGetData, "TVCID_RAW_GETDATA"},
    {kRawSetDataBank, "TVCID_RAW_SETDATABANK"},
    {kRawGetDataBank, "TVCID_RAW_GETDATABANK"},
    {kRawPrint, "TVCID_RAW_PRINT"},
    {kRawCommand, "TVCID_RAW_COMMAND"},
    {kExVerifyPassword, "TVCID_EX_VERIFYPASSWORD"},
    {kExSetPassword, "TVCID_EX_SETPASSWORD"},
    {kExSetUserPassword, "TVCID_EX_SETUSERPASSWORD"},
    {kExGetVersion, "TVCID_EX_GETVERSION"},
    {kExGetSerial, "TVCID_EX_GETSERIAL"},
    {kExSetSerial, "TVCID_EX_SETSERIAL"},
    {kExGetHeadSerial, "TVCID_EX_GETHEADSERIAL"},
    {kExSetHeadSerial, "TVCID_EX_SETHEADSERIAL"},
    {kExGetDevExParam, "TVCID_EX_GETDEVEXPARAM"},
    {kExSetDevExParam, "TVCID_EX_SETDEVEXPARAM"},
    {kExGetUserIssueCount, "TVCID_EX_GETUSERISSUECOUNT"},
    {kExSetUserIssueCount, "TVCID_EX_SETUSERISSUECOUNT"},
    {kExGetFactIssueCount, "TVCID_EX_GETFACTISSUECOUNT"},
    {kExSetFactIssueCount, "TVCID_EX_SETFACTISSUECOUNT"},
    {kExSetDeviceId, "TVCID_EX_SETDEVICEID"},
    {kExSetPcName, "TVCID_EX_SETPCNAME"},
    {kExSetMagCryptKey, "TVCID_EX_SETMAGCRYPTKEY"},
    {kExAutoRotatorSet, "TVCID_EX_AUTOROTATORSET"},
    {kExGetMonitorings, "TVCID_EX_GETMONITORINGS"},
    {kExToggleTestMode, "TVCID_EX_TOGGLETESTMODE"},
    {kExToggleRunTest, "TVCID_EX_TOGGLERUNTEST"},
    {kExUsbGetCommand, "TVCID_EX_USBGETCOMMAND"},
    {kExUsbSetCommand, "TVCID_EX_USBSETCOMMAND"},
};

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
  return true;
}

}  // namespace

std::string_view commandName(uint16_t id) {
  for (const Named& n : kNames)
    if (n.id == id) return n.name;
  return {};
}

bool commandByName(std::string_view name, uint16_t* id) {
  for (const Named& n : kNames) {
    std::string_view full = n.name;
    if (sameName(name, full) || sameName(name, full.substr(6))) {
      *id = n.id;
      return true;
    }
  }
  return false;
}

}  // namespace tavik::tvcid
