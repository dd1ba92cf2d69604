// TVCID command identifiers carried in the TVNP header, and their names as
// the module logs them. Shared by the module's handler table and the PC-side
// tools. Public face of net/.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavik::tvcid {

// Device session.
inline constexpr uint16_t kIsOpenDevice = 0;
inline constexpr uint16_t kOpenDevice = 1;
inline constexpr uint16_t kCloseDevice = 2;
inline constexpr uint16_t kOpenDeviceAlias = 1000;
inline constexpr uint16_t kCloseDeviceAlias = 1001;
inline constexpr uint16_t kPrintAlias = 1002;
// Printer status and settings.
inline constexpr uint16_t kGetStatus = 100;
inline constexpr uint16_t kGetRibbonType = 101;
inline constexpr uint16_t kGetRibbonRemain = 102;
inline constexpr uint16_t kClearStatus = 103;
inline constexpr uint16_t kReboot = 104;
inline constexpr uint16_t kSetLcdText = 105;
inline constexpr uint16_t kBeep = 106;
inline constexpr uint16_t kGetVersion = 107;
inline constexpr uint16_t kGetPrinterName = 108;
inline constexpr uint16_t kGetStatus2 = 109;
inline constexpr uint16_t kGetTemperature = 110;
inline constexpr uint16_t kGetDevParam = 111;
inline constexpr uint16_t kSetDevParam = 112;
inline constexpr uint16_t kLockPrinter2 = 113;
inline constexpr uint16_t kUnlockPrinter2 = 114;
inline constexpr uint16_t kUnlockPrinter3 = 115;
// Card transport.
inline constexpr uint16_t kSbsStart = 200;
inline constexpr uint16_t kSbsEnd = 201;
inline constexpr uint16_t kCardIn = 202;
inline constexpr uint16_t kCardOut = 203;
inline constexpr uint16_t kCardOutBack = 204;
inline constexpr uint16_t kMove = 205;
inline constexpr uint16_t kIcContact = 206;
inline constexpr uint16_t kIcDiscontact = 207;
inline constexpr uint16_t kRotate = 208;
inline constexpr uint16_t kMoveFromIn = 209;
inline constexpr uint16_t kMoveFromOut = 210;
inline constexpr uint16_t kRotate180 = 211;
inline constexpr uint16_t kDoCleaning = 212;
// Printing.
inline constexpr uint16_t kPrint = 411;
inline constexpr uint16_t kDoPrint = 412;
inline constexpr uint16_t kDoPrint2 = 423;
// Raw printer data.
inline constexpr uint16_t kRawSetData = 2000;
inline constexpr uint16_t kRawGetData = 2001;
inline constexpr uint16_t kRawSetDataBank = 2002;
inline constexpr uint16_t kRawGetDataBank = 2003;
// Raw sessions, as the engine represents them internally.
inline constexpr uint16_t kRawPrint = 2100;
inline constexpr uint16_t kRawCommand = 2101;
// Extended settings.
inline constexpr uint16_t kExVerifyPassword = 3000;
inline constexpr uint16_t kExSetPassword = 3001;
inline constexpr uint16_t kExSetUserPassword = 3002;
inline constexpr uint16_t kExGetVersion = 3003;
inline constexpr uint16_t kExGetSerial = 3004;
inline constexpr uint16_t kExSetSerial = 3005;
inline constexpr uint16_t kExGetHeadSerial = 3006;
inline constexpr uint16_t kExSetHeadSerial = 3007;
inline constexpr uint16_t kExGetDevExParam = 3008;
inline constexpr uint16_t kExSetDevExParam = 3009;
inline constexpr uint16_t kExGetUserIssueCount = 3010;
inline constexpr uint16_t kExSetUserIssueCount = 3011;
inline constexpr uint16_t kExGetFactIssueCount = 3012;
inline constexpr uint16_t kExSetFactIssueCount = 3013;
inline constexpr uint16_t kExSetDeviceId = 3014;
inline constexpr uint16_t kExSetPcName = 3015;
inline constexpr uint16_t kExSetMagCryptKey = 3016;
inline constexpr uint16_t kExAutoRotatorSet = 3017;
inline constexpr uint16_t kExGetMonitorings = 3018;
inline constexpr uint16_t kExToggleTestMode = 3019;
inline constexpr uint16_t kExToggleRunTest = 3020;
// USB vendor requests.
inline constexpr uint16_t kExUsbGetCommand = 3100;
inline constexpr uint16_t kExUsbSetCommand = 3101;

// Name of a known identifier ("TVCID_GETSTATUS"), or "" when unknown.
std::string_view commandName(uint16_t id);
// Identifier of a name, with or without the "TVCID_" prefix, any case.
// Returns false when unknown.
bool commandByName(std::string_view name, uint16_t* id);

}  // namespace tavik::tvcid
