// The behaviour of the virtual dual-side card printer behind its USB link:
// command frames and replies, status words, the card mechanism with time,
// the magnetic encoder, the printer lock and the print-data path. Internal
// to sim/printer; tests reach it through VirtualPrinter::model().
//
// Time: every mechanical action sets its activity bits of status word A for
// a duration in printer milliseconds, multiplied by the time scale (0.01
// makes a 1200 ms card feed take 12 ms). The model advances lazily: each
// request first completes the actions whose time has passed, so a status
// query always sees the state of "now".
//
// How the printer behaves (word A activity bit / word B fault bit):
// - Card in 0x40 0x01 (A0 / B0: hopper empty, a card inside, cover open or
//   printer locked). Out 0x40 0x02 (A1 / B2), out to the back 0x40 0x03
//   (A1 / B22). Moves 0x40 0x05..0x0A to print, magnetic, contact,
//   contactless, flipper, device (A2, A7, A5, A6, A3, A4 / B1, B3, B4, B5,
//   B6, B7); from the in / out sensor 0x40 0x14 / 0x15 (A2 / B5, B4).
//   Rotations 0x40 0x1C, 0x1A (to top), 0x1B (to bottom) turn the card over
//   (A3 + A16/A17 / B6, plus B12/B13 for the directed ones). Contact
//   0x40 0x12 only at the contact station (A11 / B11); dis-contact 0x40 0x13
//   (A10). Every movement fails without a card or with the cover open.
// - Magnetic read 0x40 0x30 / write 0x40 0x40 move the card to the encoder
//   first (A7, then A13 / B3 without a card). Reading a blank track sets
//   that track's read fault (B25..B27) only. Writing in character mode
//   checks the data: track 1 0x20-0x5F up to 79, tracks 2 and 3 0x30-0x3F
//   up to 40 and 107 characters, else B15 and nothing is written; bit mode
//   (0x80) writes any bytes.
// - Password 0x50 0x05 and 0x50 0x17: first field the current password,
//   second the new one; a wrong current one sets B24 and changes nothing.
//   Lock 0x50 0x19, unlock 0x50 0x18, timed unlock 0x50 0x1A change B28
//   only for the right digest. A locked printer takes no card in.
// - Print images: without SBS the printer feeds a card (or uses the one
//   inside), moves it to print, turns it for a back-side image, aligns the
//   ribbon (B20 when empty), prints (one ribbon count less per side) and
//   ejects; A12 shows for the whole job, failures add B14. In SBS mode the
//   page waits for 0x40 0x0B and prints on the card inside, on the side
//   that faces the head, with A26 set, and keeps the card. A25 stays set
//   while an image is held (until the next image starts arriving).
// - Cleaning 0x40 0x1E runs only with the cover open and the hopper empty
//   (A31 while it runs); reboot 0x40 0xF1 shows A29 and forgets buffers,
//   modes and faults; clear status 0x40 0xF0 clears word B except B28.
//
// Thread safety: every public method takes mutex_; none blocks on the
// clock. Card files are written by the CardWriter outside the lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/printer/PrnDecoder.h"

namespace tavik::sim {

class CardWriter;

// Status word A (state) bits.
namespace word_a {
constexpr uint32_t kTakingIn = 1u << 0;
constexpr uint32_t kEjecting = 1u << 1;
constexpr uint32_t kToPrint = 1u << 2;
constexpr uint32_t kToFlipper = 1u << 3;
constexpr uint32_t kToPrinter = 1u << 4;
constexpr uint32_t kToContact = 1u << 5;
constexpr uint32_t kToContactless = 1u << 6;
constexpr uint32_t kToMagnetic = 1u << 7;
constexpr uint32_t kHeadLifting = 1u << 8;
constexpr uint32_t kHeadLowering = 1u << 9;
constexpr uint32_t kDiscontacting = 1u << 10;
constexpr uint32_t kContacting = 1u << 11;
constexpr uint32_t kPrinting = 1u << 12;
constexpr uint32_t kMagnetic = 1u << 13;
constexpr uint32_t kRibbonAlign = 1u << 14;
constexpr uint32_t kRibbonWind = 1u << 15;
constexpr uint32_t kFlipTop = 1u << 16;
constexpr uint32_t kFlipBottom = 1u << 17;
constexpr uint32_t kHopperCard = 1u << 18;
constexpr uint32_t kHeadLifted = 1u << 19;
constexpr uint32_t kCardInside = 1u << 20;
constexpr uint32_t kCardAtStation = 1u << 21;
constexpr uint32_t kFlipperTop = 1u << 22;
constexpr uint32_t kDualSide = 1u << 23;
constexpr uint32_t kReceiving = 1u << 24;
constexpr uint32_t kSpoolData = 1u << 25;
constexpr uint32_t kSbsBusy = 1u << 26;
constexpr uint32_t kSbsMode = 1u << 27;
constexpr uint32_t kCoverOpen = 1u << 28;
constexpr uint32_t kInitialising = 1u << 29;
constexpr uint32_t kTestMode = 1u << 31;
constexpr uint32_t kActivity = 0x2503FFFF;
}  // namespace word_a

// Status word B (fault) bits.
namespace word_b {
constexpr uint32_t kCardIn = 1u << 0;
constexpr uint32_t kToPrint = 1u << 1;
constexpr uint32_t kEject = 1u << 2;
constexpr uint32_t kToMagnetic = 1u << 3;
constexpr uint32_t kToContact = 1u << 4;
constexpr uint32_t kToContactless = 1u << 5;
constexpr uint32_t kToFlipper = 1u << 6;
constexpr uint32_t kToPrinter = 1u << 7;
constexpr uint32_t kDiscontact = 1u << 10;
constexpr uint32_t kContact = 1u << 11;
constexpr uint32_t kFlipTop = 1u << 12;
constexpr uint32_t kFlipBottom = 1u << 13;
constexpr uint32_t kPrinting = 1u << 14;
constexpr uint32_t kMagnetic = 1u << 15;
constexpr uint32_t kRibbonAlign = 1u << 16;
constexpr uint32_t kRibbonWind = 1u << 17;
constexpr uint32_t kRibbonEmpty = 1u << 20;
constexpr uint32_t kDataFault = 1u << 21;
constexpr uint32_t kEjectBack = 1u << 22;
constexpr uint32_t kAuthentication = 1u << 24;
constexpr uint32_t kReadTrack1 = 1u << 25;  // tracks 2 and 3 follow
constexpr uint32_t kLocked = 1u << 28;
}  // namespace word_b

// Durations of the mechanism, in printer milliseconds (before the time scale).
struct PrinterTimings {
  int cardIn = 1200;
  int cardOut = 1200;
  int move = 600;
  int rotate = 1500;
  int magnetic = 1500;
  int contact = 400;
  int head = 200;
  int ribbonAlign = 400;
  int printPanel = 1200;  // per panel of the image
  int clean = 5000;
  int reboot = 3000;
  int sbsCommand = 200;
  int autoRotator = 800;
  // Real milliseconds (not scaled): a print image that stops arriving for
  // this long is dropped with the data fault.
  int receiveTimeout = 10000;
};

// Identity and starting state of the printer.
struct PrinterConfig {
  double timeScale = 1.0;
  int hopperCount = 100;
  int ribbonType = 0;
  int ribbonRemaining = 250;
  std::string vendor = "TAVIK";    // 0x50 0x06: identification "TAVIK TC-D200"
  std::string modelName = "TC-D200";
  std::string deviceId =
      "MFG:TAVIK;MDL:TC-D200;CMD:CP,CC;CLS:PRINTER;DES:TAVIK TC-D200 Dual-Side Card Printer;";
  std::string version = "TC-D200 V1.04.12";
  std::string serial = "TD2A0012345";
  std::string headSerial = "HD7731550";
  PrinterTimings timings;
  bool announceCards = false;  // print one line on stdout per card file written
};

enum class CardPosition { kNone, kIn, kPrint, kMagnetic, kContact, kContactless, kFlipper,
                          kDevice, kFromIn, kFromOut };
const char* positionName(CardPosition p);

// One physical card: its magnetic stripe and what was printed on it.
struct CardRecord {
  int number = 0;  // 0 while still in the hopper
  std::array<std::string, 4> tracks;  // tracks 1-3 and JIS, as written
  bool highCoercivity = false;
  bool backUp = false;  // the back side faces the print head
  bool frontPrinted = false;
  bool backPrinted = false;
  std::string where = "hopper";  // hopper, inside, stacker, back
};

// One printed side of a card, decoded from the image that made it.
struct PrintedSide {
  int card = 0;
  std::string side;  // "front" or "back": the side that faced the head
  std::shared_ptr<const PrnImage> image;
  std::string baseName;  // "card-0001-front": files under recordDir/cards/
  std::string summary;
};

class PrinterModel {
 public:
  explicit PrinterModel(PrinterConfig config);
  ~PrinterModel();
  PrinterModel(const PrinterModel&) = delete;
  PrinterModel& operator=(const PrinterModel&) = delete;

  // Where printed cards and rejected images go (host directory; "" keeps
  // them in memory only). Starts the card writer.
  void setRecordDir(const std::string& hostDir);

  // --- the USB side ---
  // The IEEE 1284 device ID text.
  std::string deviceId() const;
  // One frame sent with the command-write request. Unknown frames are
  // ignored and reported as false (for the transcript).
  bool commandWrite(const uint8_t* frame, size_t size);
  // One request frame of the command-read request; returns the reply
  // (empty for an unknown request).
  std::vector<uint8_t> commandRead(const uint8_t* frame, size_t size);
  // Bytes of the print-data channel ("CP" print images, "CC" command frames).
  void printData(const uint8_t* data, size_t size);
  // Takes up to maxBytes of what the printer sends back on its data channel.
  std::vector<uint8_t> takeReply(size_t maxBytes);
  bool hasReply();

  // --- state for tests and the control socket ---
  uint32_t wordA();
  uint32_t wordB();
  std::array<uint8_t, 12> status();
  std::array<uint8_t, 16> extendedStatus();
  std::string stateJson();
  std::string cardJson();        // the card inside, or the last one that left
  std::string lastPrintedJson();
  std::optional<PrintedSide> lastPrinted();
  std::vector<PrintedSide> printedSides();
  std::optional<CardRecord> cardInside();
  std::vector<CardRecord> ejectedCards();
  std::string password();
  // Blocks until `count` printed sides have their files written (or the
  // limit passes); true when they have.
  bool waitForCardFiles(size_t count, std::chrono::milliseconds limit);

  // --- injection ---
  void setTimeScale(double scale);
  double timeScale();
  void setHopper(int count);
  void loadCard(const CardRecord& card);  // to the back of the hopper
  void setCoverOpen(bool open);
  void setRibbon(int remaining, int type);  // type < 0 keeps the type
  void setRibbonType(int type);
  void setRibbonEmpty(bool empty);
  void setBusy(int printerMs);              // bit 26 for a while
  void setBusyLatched(bool on);             // bit 26 until cleared
  void injectFault(uint32_t bitsB);         // into word B now
  void failNextAction(uint32_t bitsB);      // next mechanical action ends with these
  void clearStatus();
  void setPassword(const std::string& password);
  void setLocked(bool locked);
  void setSbs(bool on);
  void setTestMode(bool on);
  // Card inside for tests: puts a blank card at a position (kNone removes it).
  void placeCard(CardPosition position);

 private:
  using Clock = std::chrono::steady_clock;

  struct Action {
    uint32_t bitsA = 0;
    int printerMs = 0;
    int job = 0;
    std::function<bool()> finish;  // under mutex_; false drops the rest of the job
  };

  void advance();                      // completes actions whose time has passed
  void enqueue(int job, uint32_t bitsA, int printerMs, std::function<bool()> finish);
  int newJob() { return ++jobCounter_; }
  Clock::duration scaled(int printerMs) const;
  bool takeInjected();                 // applies a pending injected fault
  bool cardAction(uint32_t fault);     // common checks: card, cover, injection
  uint32_t wordALocked() const;
  std::array<uint8_t, 12> statusLocked() const;
  std::array<uint8_t, 16> extendedLocked() const;
  std::vector<uint8_t> readLocked(const uint8_t* frame);  // frame of 3 bytes
  uint8_t positionCode() const;

  void enqueueMove(int job, CardPosition to, uint32_t bitA, uint32_t fault, int offset = 0);
  void enqueueFlip(int job, uint32_t bitFlip, uint32_t fault, int toTop);
  void enqueueMagnetic(uint8_t selection, bool write);
  void enqueuePrintJob(std::shared_ptr<const PrnImage> image, bool sbs);
  bool finishPrinting(const std::shared_ptr<const PrnImage>& image);
  void handleImage(const std::vector<uint8_t>& frame);
  void handleCc(const std::vector<uint8_t>& frame);
  void rejectData(const std::vector<uint8_t>& bytes, const std::string& why);
  void parseDataStream();
  bool handleSetting(const uint8_t* f, size_t n);
  bool handleAction(const uint8_t* f, size_t n);
  void setTracks(uint8_t selection, const uint8_t* data, size_t size, bool crypto);
  std::vector<uint8_t> getTracks(uint8_t selection, bool crypto);
  std::string crypt(const std::string& in) const;
  bool digestMatches(const uint8_t* digest) const;
  std::string idText() const;

  mutable std::mutex mutex_;
  PrinterConfig config_;                 // guarded by mutex_
  std::deque<Action> queue_;             // guarded by mutex_
  bool currentStarted_ = false;          // guarded by mutex_
  Clock::time_point currentEnd_{};       // guarded by mutex_
  Clock::time_point nextStart_{};        // guarded by mutex_
  int jobCounter_ = 0;                   // guarded by mutex_

  uint32_t faults_ = 0;                  // word B, guarded by mutex_
  uint32_t injectedNext_ = 0;            // guarded by mutex_
  std::deque<CardRecord> hopper_;        // guarded by mutex_
  std::optional<CardRecord> card_;       // the card inside, guarded by mutex_
  CardPosition position_ = CardPosition::kNone;
  int positionOffset_ = 0;
  std::vector<CardRecord> ejected_;      // guarded by mutex_
  int cardCounter_ = 0;
  bool flipperTop_ = true;
  bool contacted_ = false;
  bool headDown_ = false;
  bool coverOpen_ = false;
  bool ribbonEmpty_ = false;
  bool busyLatched_ = false;
  Clock::time_point busyUntil_{};
  bool sbs_ = false;
  bool testMode_ = false;
  bool autoRotator_ = false;
  int ribbonRemaining_ = 0;
  int ribbonType_ = 0;

  // Identity and settings.
  std::string vendor_, modelName_, version_, serial_, headSerial_;
  std::vector<uint8_t> params_, exParams_;
  std::string pcName_;
  uint32_t userIssueCount_ = 0, factIssueCount_ = 0;
  std::array<std::string, 2> lcd_;
  int beeps_ = 0;
  int lastRunTest_ = -1;
  uint32_t bankSelector_ = 0;
  std::map<uint32_t, std::array<uint8_t, 4>> banks_;
  std::array<uint8_t, 8> password_{};
  bool locked_ = false;
  std::optional<Clock::time_point> relockAt_;
  std::array<uint8_t, 16> cryptKey_{};
  std::array<std::string, 4> trackBuffer_;
  uint32_t cardsPrinted_ = 0, cardsFed_ = 0, panelsPrinted_ = 0, cleanings_ = 0;

  // Print-data channel.
  std::vector<uint8_t> stream_;          // bytes of an unfinished frame
  Clock::time_point lastData_{};
  std::shared_ptr<const PrnImage> heldImage_;  // bit 25 while set
  bool pagePending_ = false;             // SBS: held page not printed yet
  std::deque<uint8_t> replies_;          // data channel back to the host
  int rejectCounter_ = 0;

  std::vector<PrintedSide> printed_;     // guarded by mutex_
  std::unique_ptr<CardWriter> writer_;
  std::string recordDir_;
};

}  // namespace tavik::sim
