// The one connection of the module to the card printer on /dev/usblp0.
// Public face of printer/ for every client of the printer (command engines,
// the OCP shell, the USB bridge, the discovery responder).
//
// The port opens and reopens the device on demand, identifies the printer,
// moves print data, exchanges command frames through the driver's two
// vendor requests (with retries and a 50 ms cache for the two status
// queries) and keeps the advisory owner slot through which clients take
// turns on the printer.
//
// Three leaf locks, never nested: the I/O lock around every use of the
// device, the info lock around the printer ID and product ID, the owner lock
// around the owner and the session counter.
//
// Results follow the driver: a negative value (-1) on failure. Callers map
// them to result codes (0x80000006 "Error on communication with device").
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/DeviceFile.h"

namespace tavik {

// How the port (and the PrinterApi objects that drive it) read the clock and
// sleep. The product uses the monotonic clock and real sleeps; tests hand in
// their own clock so that a 10-second motion wait does not take 10 seconds.
class PortClock {
 public:
  virtual ~PortClock() = default;
  // Current time as seconds and microseconds of a clock that never jumps back.
  virtual void now(int64_t* seconds, int64_t* micros) = 0;
  virtual void sleepMs(int milliseconds) = 0;

  // The product's clock: CLOCK_MONOTONIC and nanosleep.
  static PortClock& system();
};

class PrinterPort {
 public:
  // Device ID request: out: 2-byte length, then the IEEE 1284 device ID text.
  static constexpr unsigned long deviceIdRequest(size_t n) {
    return 0x80000000ul + n * 0x10000ul + 0x5001ul;
  }
  // Command write: in: one command frame of n bytes.
  static constexpr unsigned long commandWriteRequest(size_t n) {
    return 0x40000000ul + n * 0x10000ul + 0x500Eul;
  }
  // Command read: in: the request frame at the buffer's start; out: the reply.
  static constexpr unsigned long commandReadRequest(size_t n) {
    return 0x80000000ul + n * 0x10000ul + 0x500Ful;
  }
  // The size field of a driver request has 14 bits: larger buffers would turn
  // into another request number, so they are refused.
  static constexpr size_t kMaxRequestSize = 0x3FFF;

  static constexpr int kFirstSessionId = 10;
  static constexpr int kUsbBridgeSession = 2;
  static constexpr size_t kPrinterIdSize = 32;  // 31 characters and a zero
  static constexpr size_t kDescribeSlot = 64;
  static constexpr size_t kDescribeSize = 640;  // ten 64-byte slots
  static constexpr size_t kWritePiece = 4096;   // print data goes out in pieces of this
  static constexpr int kStatusCacheMs = 50;

  // Initialises the port and tries to open the printer (a missing printer is
  // not an error: the next use tries again). Borrows the clock.
  explicit PrinterPort(PortClock& clock = PortClock::system());
  ~PrinterPort();  // closes
  PrinterPort(const PrinterPort&) = delete;
  PrinterPort& operator=(const PrinterPort&) = delete;

  // (Re)opens /dev/usblp0 and identifies the printer. Returns 0 when open and
  // identified with its product ID; -1 when the device cannot be opened or
  // does not answer the identification (the port is then closed), and also -1
  // when the USB device list has no printer line (the port stays open, the
  // product ID stays 0). Takes the I/O lock, then the info lock.
  int open();
  // Closes the device and forgets the identification. Returns the close
  // result, -1 when already closed.
  int close();
  // Opens the device if it is closed; true when it is open now.
  bool ensureOpen();
  bool isOpen() const;

  // Session that owns the printer, 0 when free (read without a lock).
  int owner() const { return owner_.load(); }
  // Hands out 10, 11, 12, ... (owner lock).
  int nextSessionId();
  // Takes the owner slot for `session`, polling every 100 ms until
  // `waitSeconds` have passed. Returns the session when it owns the printer,
  // else 0 (always 0 for session 0, which never takes the slot).
  int acquire(int session, int waitSeconds);
  // Frees the slot if `session` owns it; otherwise nothing.
  void release(int session);

  // Copies the printer's identification text (kPrinterIdSize bytes, zero
  // terminated). 0, or -1 for a null buffer. Info lock.
  int printerId(char* out) const;
  // USB product ID of the printer, 0 while unknown. 0, or -1 for null.
  int productId(int* out) const;

  // IEEE 1284 device ID into `buffer` (2-byte length first). Returns the
  // driver result; a negative result closes the port.
  int deviceId(uint8_t* buffer, size_t size);
  // Fills the 640-byte block the USB gadget needs to mimic the printer:
  // slots of 64 bytes with vendor, product, revision, manufacturer, product
  // and serial texts, then the device ID in slots 6 to 9. 1, or -1.
  int describe(char* block);

  // The printer's two-step register access. getDataBank returns 4 with the
  // value, or -1; setDataBank returns the second write's driver result.
  int getDataBank(const uint8_t selector[4], uint8_t value[4]);
  int setDataBank(const uint8_t selector[4], const uint8_t value[4]);

  // Sends one command frame, up to 5 attempts 100 ms apart; the port closes
  // after the last failed one. Returns the driver result (negative: failed).
  int commandWrite(const uint8_t* frame, size_t length);
  // Sends a request frame and reads the reply into `buffer` (the request is
  // copied to its start). Status (00 00 00) and extended status (02 00 00)
  // come from a 50 ms cache or take up to 10 attempts until the reply has
  // 12 or 16 bytes; other requests take up to 5 attempts until the reply is
  // not empty. The port closes after the last failed attempt. Returns the
  // reply length or the last (negative) driver result.
  int commandRead(const uint8_t* request, size_t requestLength, uint8_t* buffer,
                  size_t bufferSize);

  // One read of the printer's returned data. Bytes read or a negative value
  // (which closes the port).
  ssize_t read(void* buffer, size_t size);
  // Writes print data in pieces of at most 4096 bytes. Returns `length`, or
  // -1 when a write failed (the port is then closed).
  ssize_t write(const void* data, size_t length);

  // The clock the port sleeps with; PrinterApi waits with it too.
  PortClock& clock() const { return clock_; }

 private:
  struct StatusCache {
    int64_t seconds = 0;
    int64_t micros = 0;
    int length = 0;  // 0 = empty
    uint8_t data[16] = {};
  };

  // What an open found out; stored under the info lock afterwards.
  struct Identity {
    bool identified = false;
    char printerId[kPrinterIdSize] = {};
  };

  // open(), or with `onlyIfClosed` the open of ensureOpen(): the check and
  // the open happen under one hold of the I/O lock.
  int openPort(bool onlyIfClosed);
  // Both expect the I/O lock held.
  int openLocked(Identity* identity);
  int closeLocked();
  // Info lock: records the identity of open number `generation`, unless a
  // later open or close has already recorded its own.
  void storeIdentity(uint64_t generation, const char* printerId, int productId);
  int readProductId(int* productId) const;
  bool cacheFresh(const StatusCache& cache) const;

  PortClock& clock_;

  mutable std::mutex ioMutex_;
  platform::DeviceFile device_;  // guarded by ioMutex_
  uint64_t generation_ = 0;      // opens and closes so far; guarded by ioMutex_
  StatusCache status_;           // guarded by ioMutex_
  StatusCache extStatus_;        // guarded by ioMutex_

  mutable std::mutex infoMutex_;
  char printerId_[kPrinterIdSize] = {};  // guarded by infoMutex_
  int productId_ = 0;                    // guarded by infoMutex_
  uint64_t infoGeneration_ = 0;          // guarded by infoMutex_

  std::mutex ownerMutex_;
  int sessionCounter_ = kFirstSessionId;  // guarded by ownerMutex_
  std::atomic<int> owner_{0};             // written under ownerMutex_
};

}  // namespace tavik
