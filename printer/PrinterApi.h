// The card printer's command set as operations. Public face of printer/ for
// the command engines, the OCP shell and the USB bridge: each of them owns
// one PrinterApi over the one shared PrinterPort.
//
// Every operation returns a result code (printer/ResultCodes.h): 0 on
// success, 0x80000006 when a frame cannot be sent or a request gets no valid
// reply, the code of the first failing step of a sequence, or the code of a
// status wait. The object keeps no printer state between calls and takes no
// lock of its own: each frame goes out under the port's I/O lock, and
// sequences (prepare, action, wait) are not atomic; ownership of the port
// keeps clients apart. One PrinterApi is used by one thread at a time.
//
// Texts arrive as zero-terminated 16-bit strings (the network's form); each
// unit is reduced to its low byte in a frame. A null text is a missing one.
// Texts read from the printer come back widened unit by unit.
#pragma once

#include <winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "printer/PrinterPort.h"
#include "printer/ResultCodes.h"

namespace tavik {

// The two 32-bit status words of the printer.
struct PrinterStatus {
  uint32_t a = 0;  // state flags (activity, card, cover, SBS mode, ...)
  uint32_t b = 0;  // fault flags
};

// Status word A bits this system acts on.
namespace status_a {
inline constexpr uint32_t kPrinting = 0x00001000;
inline constexpr uint32_t kCardInPrinter = 0x00100000;
inline constexpr uint32_t kNoCardShown = 0x00200000;
inline constexpr uint32_t kCardInside = kCardInPrinter | kNoCardShown;  // card-in refuses
inline constexpr uint32_t kDualSide = 0x00800000;
inline constexpr uint32_t kSpoolDataPresent = 0x02000000;
inline constexpr uint32_t kSbsRunning = 0x04000000;
inline constexpr uint32_t kSbsMode = 0x08000000;
inline constexpr uint32_t kCoverOpen = 0x10000000;
// Bits 0-17, 24, 26 and 29: the mechanism is still doing something.
inline constexpr uint32_t kActivity = 0x2503FFFF;
}  // namespace status_a

namespace status_b {
inline constexpr uint32_t kPrintFault = 0x00004000;
inline constexpr uint32_t kRibbonSeekFault = 0x00010000;
inline constexpr uint32_t kRibbonWindFault = 0x00020000;
inline constexpr uint32_t kRibbonEmpty = 0x00100000;
inline constexpr uint32_t kDataFault = 0x00200000;
inline constexpr uint32_t kLocked = 0x10000000;
}  // namespace status_b

// A cover that is open in one status answer may be a bounce of the switch:
// the waits count it as open only when two answers in a row say so.
class CoverWatch {
 public:
  // Feeds one answer; true when the cover was open in this and the last one.
  bool openTwice(const PrinterStatus& status) {
    bool open = (status.a & status_a::kCoverOpen) != 0;
    bool twice = open && wasOpen_;
    wasOpen_ = open;
    return twice;
  }

 private:
  bool wasOpen_ = false;
};

// Magnetic track selection bits (the parameter byte of the magnetic frames).
namespace mag {
inline constexpr uint8_t kTrack1 = 0x01;
inline constexpr uint8_t kTrack2 = 0x02;
inline constexpr uint8_t kTrack3 = 0x04;
inline constexpr uint8_t kJis = 0x08;
inline constexpr uint8_t kHighCoercivity = 0x10;
inline constexpr uint8_t kBitData = 0x80;   // write/read actions: bit data with densities
inline constexpr uint8_t kAllTracks = 0x80; // buffer transfers: tagged records
inline constexpr int kMaxTrackBuffer = 250; // single-track set buffer limit
inline constexpr int kMaxRecord = 255;      // one-byte length of a tagged record
}  // namespace mag

// One track of an all-tracks read. `buffer` has room for `capacity` bytes;
// a track read is stored zero-terminated, so it needs length + 1 bytes.
struct MagTrackRead {
  bool wanted = false;
  uint8_t* buffer = nullptr;
  int capacity = 0;  // must be positive for a wanted track
  int length = 0;    // out: bytes read (0 when the printer sent none)
};

// One track of an all-tracks write: at most 255 bytes.
struct MagTrackWrite {
  bool wanted = false;
  const uint8_t* data = nullptr;
  int length = 0;
};

// Parses the tagged track records of an all-tracks read into the wanted
// tracks (lengths set to 0 first). Plain replies give an empty record 3
// bytes, crypto replies 2. Records cut short by the reply's end are ignored.
// Returns 0, or 0x80000042 when a record does not fit its track's buffer.
ResultCode parseTrackRecords(const uint8_t* reply, size_t length, bool crypto,
                             std::array<MagTrackRead, 3>* tracks);

// The density step the printer uses for a requested bit-data density: the
// first of its 18 steps at or above the request, 210 at most.
uint8_t roundDensity(int density);

// Reduces a zero-terminated 16-bit text to 8-bit units ("" for null).
std::string narrowText(const char16_t* text);
// Widens 8-bit text unit by unit.
std::u16string widenText(std::string_view text);

class PrinterApi {
 public:
  // Borrows the port, which outlives every PrinterApi.
  explicit PrinterApi(PrinterPort& port);
  // Drops a smart-card connection the client left open.
  ~PrinterApi();
  PrinterApi(const PrinterApi&) = delete;
  PrinterApi& operator=(const PrinterApi&) = delete;

  PrinterPort& port() const { return port_; }

  // ---- status and identity queries ----
  // TVCID_GETSTATUS: words A and B.
  ResultCode getStatus(PrinterStatus* status);
  // The same as the 8 bytes the printer sent (A then B, little-endian).
  ResultCode getStatus(uint8_t out[8]);
  // TVCID_GETSTATUS2: the whole extended status (normally 16 bytes).
  ResultCode getStatus2(std::vector<uint8_t>* reply);
  // TVCID_GETRIBBONTYPE: byte 8 of the extended status.
  ResultCode getRibbonType(uint32_t* type);
  // TVCID_GETRIBBONREMAIN: bytes 10 and 11 of the extended status.
  ResultCode getRibbonRemain(uint32_t* remain);
  // TVCID_GETTEMPERATURE: two 16-bit values from the first four reply bytes.
  ResultCode getTemperature(uint32_t* first, uint32_t* second);
  // TVCID_GETDEVPARAM: the raw reply (an empty reply fails).
  ResultCode getDevParam(std::vector<uint8_t>* reply);
  // TVCID_EX_GETDEVEXPARAM, _GETMONITORINGS, _GETUSERISSUECOUNT,
  // _GETFACTISSUECOUNT: the raw reply, possibly empty.
  ResultCode getDevExParam(std::vector<uint8_t>* reply);
  ResultCode getMonitorings(std::vector<uint8_t>* reply);
  ResultCode getUserIssueCount(std::vector<uint8_t>* reply);
  ResultCode getFactIssueCount(std::vector<uint8_t>* reply);
  // TVCID_EX_GETVERSION, _GETSERIAL, _GETHEADSERIAL: the reply as text up to
  // its first zero byte, widened; `length` gets the reply's length.
  ResultCode getVersion(std::u16string* text, int* length);
  ResultCode getSerial(std::u16string* text, int* length);
  ResultCode getHeadSerial(std::u16string* text, int* length);
  // TVCID_EX_USBGETCOMMAND: sends the caller's 3-byte request unchanged and
  // returns the raw reply (at most `capacity` bytes). Not 3 bytes: 0xFFFFFFFF.
  ResultCode usbGetCommand(const uint8_t* request, int requestLength, int capacity,
                           std::vector<uint8_t>* reply);

  // ---- setting commands (short text field 8 bytes, long 16) ----
  // Those taking data refuse a length below 1 with 0xFFFFFFFF.
  ResultCode setDevParam(const uint8_t* data, int length, const char16_t* text);
  ResultCode setDevExParam(const uint8_t* data, int length, const char16_t* text);
  ResultCode setSerial(const char16_t* serial);
  ResultCode setHeadSerial(const char16_t* serial);
  ResultCode setPassword(const char16_t* first, const char16_t* second);
  ResultCode setUserPassword(const char16_t* first, const char16_t* second);
  // The printer takes the second text first.
  ResultCode setDeviceId(const char16_t* first, const char16_t* second);
  ResultCode verifyPassword(const char16_t* password);
  ResultCode setPcName(const char16_t* name, const uint8_t* data, int length);
  ResultCode setUserIssueCount(const char16_t* text, const uint8_t* data, int length);
  ResultCode setFactIssueCount(const char16_t* text, const uint8_t* data, int length);
  // The key is the first 16 bytes of data, zero-padded.
  ResultCode setMagCryptKey(const char16_t* text, const uint8_t* key, int length);
  // TVCID_EX_USBSETCOMMAND: the caller's frame unchanged (at least 3 bytes).
  ResultCode usbSetCommand(const uint8_t* frame, int length);

  // ---- actions without card movement ----
  ResultCode beep();
  ResultCode reboot();
  // TVCID_CLEARSTATUS: clears the fault flags and waits until not busy;
  // the same pair is the prepare step before every card action.
  ResultCode clearStatus();
  ResultCode sbsStart();
  ResultCode sbsEnd();
  ResultCode toggleTestMode();
  ResultCode autoRotatorSet();
  // Mode 1 pads the text with blanks to 21 characters, other modes to 16.
  ResultCode setLcdText(int mode, int line, const char16_t* text);
  // Type 2, 5: one value; 4: two; 7, 8, 9: five; others: none.
  ResultCode toggleRunTest(int type, const uint32_t values[5]);

  // ---- waits ----
  // Clear the fault flags, then wait until not busy (1 s).
  ResultCode prepare();
  // Polls every 100 ms until status A bit 26 clears; 0x8000000D after
  // `limitMs` (0 or less means 1000).
  ResultCode waitNotBusy(int limitMs);
  // Polls every 100 ms, at most 100 times, until the mechanism rests; then
  // `faultCode` when word B shares a bit with `maskB` (or A with `maskA`).
  // A cover open in two consecutive polls ends it with 0x8000000E.
  ResultCode waitMotion(uint32_t maskA, uint32_t maskB, ResultCode faultCode);

  // ---- card transport and contact station ----
  ResultCode cardIn();
  ResultCode cardOut();
  ResultCode cardOutBack();
  // Positions 0 print, 1 magnetic, 2 contact, 3 contactless, 4 flipper,
  // 5 device, 6 a move from the in sensor by -62.
  ResultCode move(int position);
  // Distances are clamped to -127..127.
  ResultCode moveFromIn(int distance);
  ResultCode moveFromOut(int distance);
  ResultCode rotate();
  // Direction 1 turns one way (0x1A), anything else the other (0x1B).
  ResultCode rotate180(int direction);
  ResultCode icContact();     // TVCID_ICHCONTACT
  ResultCode icDiscontact();  // TVCID_ICHDISCONTACT
  ResultCode doCleaning();

  // ---- magnetic stripe ----
  ResultCode magReadAction(uint8_t selection);
  ResultCode magReadAction2(uint8_t selection, uint8_t mode);
  ResultCode magWriteAction(uint8_t selection, int highCoercivity);
  // Densities are rounded up to the printer's steps when flags has 0x80.
  ResultCode magWriteAction2(uint8_t selection, uint8_t flags, int density1, int density2,
                             int density3);
  // One track (exactly one of 0x01, 0x02, 0x04, 0x08 in the selection).
  ResultCode magGetBuffer(uint8_t selection, std::vector<uint8_t>* data);
  ResultCode magGetCryptoBuffer(uint8_t selection, std::vector<uint8_t>* data);
  // At most 250 bytes.
  ResultCode magSetBuffer(uint8_t selection, const uint8_t* data, int length);
  ResultCode magSetCryptoBuffer(uint8_t selection, const uint8_t* data, int length);
  // Tracks 1 to 3 in tagged records.
  ResultCode magGetAllBuffer(std::array<MagTrackRead, 3>* tracks);
  ResultCode magGetAllCryptoBuffer(std::array<MagTrackRead, 3>* tracks);
  ResultCode magSetAllBuffer(const std::array<MagTrackWrite, 3>& tracks);
  ResultCode magSetAllCryptoBuffer(const std::array<MagTrackWrite, 3>& tracks);

  // ---- print data ----
  // TVCID_PRINT: sends the data and waits until the printer has taken it
  // and (unless SBS mode holds the page) has printed it.
  ResultCode print(const uint8_t* data, size_t length) { return printData(data, length, true); }
  // Sends print data in 4096-byte pieces; with `wait`, runs the spool-data
  // wait and, outside SBS mode, the print-end wait.
  ResultCode printData(const uint8_t* data, size_t length, bool wait);
  // Polls until the printer holds the spool data (30 s).
  ResultCode waitSpoolData();
  // Polls until printing has ended (60 s), reporting print and ribbon faults.
  ResultCode waitPrintEnd();
  // TVCID_DOPRINT: prints the page held in SBS mode and waits for the end.
  ResultCode doPrint();
  // TVCID_DOPRINT2: only starts printing.
  ResultCode doPrint2();

  // ---- printer lock (the printer keeps it; word B bit 28 shows it) ----
  // 0 when the printer shows the wanted state 200 ms later, else 0xFFFFFFFF.
  ResultCode lockPrinter2(const char16_t* password);
  ResultCode unlockPrinter2(const char16_t* password);
  // Unlocks for `seconds` (clamped to 0..3600).
  ResultCode unlockPrinter3(const char16_t* password, int seconds);

  // ---- smart-card encoders (defined with the PC/SC bridge in smartcard/,
  // except releaseCard, which the destructor needs) ----
  ResultCode icPowerOn(int selector, uint8_t* atr, int* atrLength);
  ResultCode rfPowerOn(int selector, uint8_t* atr, int* atrLength);
  ResultCode icTransmit(int selector, const uint8_t* apdu, int apduLength, uint8_t* response,
                        int* responseLength);
  ResultCode rfTransmit(int selector, const uint8_t* apdu, int apduLength, uint8_t* response,
                        int* responseLength);
  ResultCode icPowerOff();
  ResultCode rfPowerOff();
  ResultCode releaseCard();
  ResultCode readerOptions(uint8_t* record);  // 516 bytes
  int findReader(int kind, int selector, std::string* name);

 private:
  // Sends a frame with the port's command write; 0x80000006 when the result
  // is negative (or not positive with `needPositive`).
  ResultCode send(const std::vector<uint8_t>& frame, bool needPositive = false);
  // Sends a 3-byte request and reads up to `capacity` bytes of reply.
  ResultCode request(uint8_t c0, uint8_t c1, uint8_t c2, size_t capacity,
                     std::vector<uint8_t>* reply);
  ResultCode rawQuery(uint8_t code, bool allowEmpty, std::vector<uint8_t>* reply);
  ResultCode textQuery(uint8_t code, std::u16string* text, int* length);
  ResultCode readExtended(std::vector<uint8_t>* reply);
  ResultCode dataAndText(uint8_t code, const uint8_t* data, int length, const char16_t* text,
                         bool textFirst);
  ResultCode twoTexts(uint8_t code, const char16_t* first, const char16_t* second);
  ResultCode waitAfter(uint32_t statusMask, int limitMs);
  // prepare, 3-byte action frame, motion wait.
  ResultCode action(uint8_t code, uint8_t parameter, uint32_t maskB, ResultCode faultCode);
  ResultCode magGetOne(uint8_t code, uint8_t selection, std::vector<uint8_t>* data);
  ResultCode magSetOne(uint8_t code, uint8_t selection, const uint8_t* data, int length);
  ResultCode magGetAll(uint8_t code, bool crypto, std::array<MagTrackRead, 3>* tracks);
  ResultCode magSetAll(uint8_t code, const std::array<MagTrackWrite, 3>& tracks);
  ResultCode lockFrame(uint8_t code, const char16_t* password, bool timed, int seconds,
                       bool wantLocked);
  void sleepMs(int ms) { port_.clock().sleepMs(ms); }

  PrinterPort& port_;  // not owned

  // The smart-card connection of this client (used only by the encoder
  // operations); cardContext_ 0 means no connection.
  SCARDCONTEXT cardContext_ = 0;
  SCARDHANDLE cardHandle_ = 0;
  DWORD activeProtocol_ = 0;
};

}  // namespace tavik
