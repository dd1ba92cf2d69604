// The virtual dual-side card printer on /dev/usblp0. Public face of
// sim/printer (library tavik_printersim) for tests and the program
// tavik-printer-sim.
//
// Use in a test:
//
//   tavik::test::ScopedSysroot root;
//   tavik::sim::PrinterConfig config;
//   config.timeScale = 0.01;             // a 1.2 s card feed takes 12 ms
//   tavik::sim::VirtualPrinter printer(config);
//   ASSERT_TRUE(printer.start(root.root()));
//   ... open "/dev/usblp0" with platform::DeviceFile, talk to it ...
//   printer.model().wordA();             // state without going through USB
//   printer.control("unplug");           // same lines as the control socket
//   printer.model().waitForCardFiles(1, 10s);  // PNGs written
//   printer.stop();                      // also done by the destructor
//
// What it serves under the host root:
//   dev/usblp0               the device socket (driver requests by ioctl,
//                            print data by write, printer replies by read)
//   sim/printer.ctl          the control socket (commands: see control())
//   sim/printer/transcript.log  every exchange, one line each:
//       "%10.3f %-18s arg=0x%08X in=HEX result=N errno=N out=HEX[ frame=NAME]"
//       (seconds since start, op, request number or size, at most 64 bytes
//       each way shown, "-" for none; frame= names command frames)
//   sim/printer/cards/       card-NNNN-SIDE.png (composite),
//                            card-NNNN-SIDE-PANEL.png, card-NNNN-SIDE.txt,
//                            bad-NNNN.prn/.txt for rejected print data
//
// Driver requests (N = buffer size, taken from the request number and
// checked against the buffer; a mismatch fails with EINVAL):
//   0x80000000 + N*0x10000 + 0x5001  IEEE 1284 device ID (2-byte big-endian
//                                    length including itself, then the text)
//   0x40000000 + N*0x10000 + 0x500E  command write (frame of N bytes)
//   0x80000000 + N*0x10000 + 0x500F  command read (3-byte request at the
//                                    start of the buffer; result = reply length)
// Replies: status (0x00 0x00 0x00) is 12 bytes: word A, word B (little-
// endian), hopper count (16 bits), card position code (0 none, 1 in, 2 print,
// 3 magnetic, 4 contact, 5 contactless, 6 flipper, 7 device, 8 from the in
// sensor, 9 from the out sensor), flags (1 back side up, 2 contacted, 4 head
// down). Extended status (0x02 0x00 0x00) is 16 bytes: words A and B, ribbon
// type, head temperature, remaining ribbon count (16 bits, one less per
// printed side), cards printed (32 bits). Identification (0x50 0x06 0x00)
// is "VENDOR MODEL", "TAVIK TC-D200" at first.
// write() takes "CP" print images (decoded and printed; malformed ones set
// the data fault and are kept as cards/bad-NNNN.prn) and "CC" command frames,
// whose answers come back on read() as "CC" 0x02 0x00 frames; read() returns
// 0 at once when there is nothing to send (EAGAIN when non-blocking).
// Unplugged, OPEN fails with ENODEV and every request on a file opened
// before fails with ENODEV, also after the printer is plugged in again.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "sim/DeviceServer.h"
#include "sim/printer/PrinterModel.h"

namespace tavik::sim {

class PrinterDeviceModel;

class VirtualPrinter {
 public:
  explicit VirtualPrinter(PrinterConfig config = {});
  ~VirtualPrinter();
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // Serves hostRoot/dev/usblp0 and hostRoot/sim/printer.ctl and records
  // under hostRoot/sim/printer/ (directories are created). Returns false
  // with errno when a socket cannot be set up.
  bool start(const std::string& hostRoot);
  void stop();

  PrinterModel& model() { return *model_; }

  // Executes one control line and returns the answer ("OK ..." or
  // "ERR ..."), exactly as the control socket does. Commands:
  //   plug | unplug
  //   state                          whole state as JSON
  //   set {"hopper":3,"cover":"open",...} | set hopper=3 cover=open ...
  //                                  settable keys: hopper, ribbonRemaining,
  //                                  ribbonType, cover (open|closed), ribbonEmpty,
  //                                  sbs, testMode, locked, plugged (true|false),
  //                                  timeScale, password; nothing changes when
  //                                  one key or value is wrong
  //   card                           the card inside (or the last out) as JSON
  //   last                           the last printed side as JSON ("null")
  //   hopper N                       N blank cards in the hopper
  //   load [t1=TEXT] [t2=..] [t3=..] [jis=..] [hico]   one card with stripe data
  //                                  (TEXT without blanks; %20 for a blank)
  //   cover open|closed
  //   ribbon N [TYPE] | ribbon empty|full
  //   busy MS | busy on|off          status word A bit 26 for MS printer ms / latched
  //   fault MASK                     OR MASK into word B now (hex 0x.. or decimal)
  //   failnext MASK                  the next mechanical action ends with MASK
  //   clear                          clear word B (the lock bit stays)
  //   lock | unlock                  set the lock bit directly
  //   password TEXT                  set the printer's password (8 bytes)
  //   sbs on|off | testmode on|off
  //   place POSITION                 put a blank card at in, print, magnetic,
  //                                  contact, contactless, flipper, device, none
  //   timescale X                    printer ms x X = real ms
  //   ioerror N                      the next N driver requests fail with EIO
  //   short N                        the next N command reads answer 1 byte short
  //   delay MS                       every driver request waits MS real ms
  //   chaos SEED PERCENT             from now on each driver request fails with
  //                                  EIO, and each command read answers 1 byte
  //                                  short, with PERCENT % chance, drawn from a
  //                                  generator seeded with SEED (0 % turns it off)
  std::string control(const std::string& line);

  void plug();
  void unplug();
  bool plugged() const { return plugged_.load(); }

  const std::string& recordDir() const { return recordDir_; }

 private:
  friend class PrinterDeviceModel;
  friend class PrinterFile;

  // Fault injection on the driver level, shared by all open files.
  std::string applySettings(const std::string& text);
  bool chance();  // one draw of the chaos generator
  bool takeIoError();
  bool takeShortReply();
  void applyDelay();
  void record(const char* op, uint32_t arg, const uint8_t* in, size_t inLen, int64_t result,
              int error, const uint8_t* out, size_t outLen, const char* frame = nullptr);

  std::unique_ptr<PrinterModel> model_;
  std::unique_ptr<PrinterDeviceModel> deviceModel_;
  std::unique_ptr<DeviceServer> deviceServer_;
  std::unique_ptr<ControlServer> controlServer_;
  std::string recordDir_;
  std::atomic<bool> plugged_{true};
  std::atomic<bool> stopping_{false};
  std::atomic<uint32_t> generation_{1};  // bumped at unplug
  std::atomic<int> ioErrors_{0};
  std::atomic<int> shortReplies_{0};
  std::atomic<int> delayMs_{0};
  std::mutex chaosMutex_;
  std::mt19937 chaos_;        // guarded by chaosMutex_
  int chaosPercent_ = 0;      // guarded by chaosMutex_

  std::mutex transcriptMutex_;
  FILE* transcript_ = nullptr;  // guarded by transcriptMutex_
  std::chrono::steady_clock::time_point started_;
};

}  // namespace tavik::sim
