// PrinterApi: print data, the spool-data and print-end waits, and the
// printer lock.
#include "printer/PrinterApi.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace tavik {

namespace {

constexpr int kPrintPollMs = 200;
constexpr int kSpoolPolls = 150;     // 30 s
constexpr int kPrintEndPolls = 300;  // 60 s
constexpr int kMaxUnlockSeconds = 3600;
constexpr char kLockSalt[] = "QOLBERVUNZ";

// The print-end wait's fault checks, in the order the printer's flags are
// tested.
struct Fault {
  uint32_t maskB;
  ResultCode code;
};
constexpr Fault kPrintFaults[] = {
    {status_b::kPrintFault, rc::kErrPrinting},
    {status_b::kRibbonSeekFault, rc::kErrSeekRibbon},
    {status_b::kRibbonWindFault, rc::kErrWindRibbon},
    {status_b::kRibbonEmpty, rc::kErrRibbonEmpty},
};

}  // namespace

ResultCode PrinterApi::printData(const uint8_t* data, size_t length, bool wait) {
  PrinterStatus before;
  ResultCode r = getStatus(&before);
  if (r != rc::kSuccess) return r;
  if (data == nullptr && length > 0) return rc::kFail;
  // One port write per piece: other clients' frames may come between two.
  for (size_t done = 0; done < length;) {
    size_t piece = std::min(PrinterPort::kWritePiece, length - done);
    if (port_.write(data + done, piece) != static_cast<ssize_t>(piece)) return rc::kFail;
    done += piece;
  }
  if (!wait) return rc::kSuccess;
  r = waitSpoolData();
  if (r != rc::kSuccess) return r;
  // In SBS mode the page waits in the printer for the print command.
  if ((before.a & status_a::kSbsMode) != 0) return rc::kSuccess;
  return waitPrintEnd();
}

ResultCode PrinterApi::waitSpoolData() {
  sleepMs(kPrintPollMs);
  CoverWatch cover;
  for (int poll = 0; poll < kSpoolPolls; ++poll) {
    PrinterStatus st;
    ResultCode r = getStatus(&st);
    if (r != rc::kSuccess) return r;
    if (cover.openTwice(st)) return rc::kErrCaseOpen;
    if ((st.b & status_b::kDataFault) != 0) return rc::kErrNoPrintData;
    if ((st.a & status_a::kSpoolDataPresent) != 0) {
      sleepMs(kPrintPollMs);
      return rc::kSuccess;
    }
    sleepMs(kPrintPollMs);
  }
  return rc::kErrTimeout;
}

ResultCode PrinterApi::waitPrintEnd() {
  sleepMs(kPrintPollMs);
  CoverWatch cover;
  for (int poll = 0; poll < kPrintEndPolls; ++poll) {
    PrinterStatus st;
    ResultCode r = getStatus(&st);
    if (r != rc::kSuccess) return r;
    if (cover.openTwice(st)) return rc::kErrCaseOpen;
    for (const Fault& f : kPrintFaults) {
      if ((st.b & f.maskB) != 0) return f.code;
    }
    sleepMs(kPrintPollMs);
    if ((st.a & (status_a::kSbsRunning | status_a::kPrinting)) == 0) return rc::kSuccess;
  }
  return rc::kErrTimeout;
}

ResultCode PrinterApi::doPrint() {
  ResultCode r = send({0x40, 0x0B, 0x00});
  if (r != rc::kSuccess) return r;
  return waitPrintEnd();
}

ResultCode PrinterApi::doPrint2() { return send({0x40, 0x0B, 0x00}); }

ResultCode PrinterApi::lockFrame(uint8_t code, const char16_t* password, bool timed, int seconds,
                                 bool wantLocked) {
  // Digest input: password (8 bytes), the ribbon count from the extended
  // status (2 bytes as they arrive), the fixed salt (10 bytes).
  uint8_t input[20] = {};
  if (password != nullptr) {
    for (int i = 0; i < 8 && password[i] != 0; ++i) input[i] = static_cast<uint8_t>(password[i] & 0xFF);
  }
  std::vector<uint8_t> ext;
  ResultCode r = readExtended(&ext);
  if (r != rc::kSuccess) return r;
  if (ext.size() < 12) return rc::kErrCommunication;
  input[8] = ext[10];
  input[9] = ext[11];
  std::memcpy(input + 10, kLockSalt, 10);

  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(input, sizeof input, digest, &digestLength, EVP_md5(), nullptr) != 1 ||
      digestLength != 16) {
    return rc::kFail;
  }
  std::vector<uint8_t> frame(timed ? 23 : 19, 0);
  frame[0] = 0x50;
  frame[1] = code;
  std::memcpy(frame.data() + 3, digest, 16);
  if (timed) {
    uint32_t s = static_cast<uint32_t>(std::clamp(seconds, 0, kMaxUnlockSeconds));
    for (int i = 0; i < 4; ++i) frame[19 + i] = static_cast<uint8_t>(s >> (8 * i));
  }
  r = send(frame, true);
  if (r != rc::kSuccess) return r;

  sleepMs(kPrintPollMs);
  PrinterStatus st;
  r = getStatus(&st);
  if (r != rc::kSuccess) return r;
  bool locked = (st.b & status_b::kLocked) != 0;
  return locked == wantLocked ? rc::kSuccess : rc::kFail;
}

ResultCode PrinterApi::lockPrinter2(const char16_t* password) {
  return lockFrame(0x19, password, false, 0, true);
}

ResultCode PrinterApi::unlockPrinter2(const char16_t* password) {
  return lockFrame(0x18, password, false, 0, false);
}

ResultCode PrinterApi::unlockPrinter3(const char16_t* password, int seconds) {
  return lockFrame(0x1A, password, true, seconds, false);
}

}  // namespace tavik
