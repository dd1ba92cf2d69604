// The per-connection protocol machine behind the spool, SDK and admin
// services: reassembles one TVNP request from the chunks a connection
// delivers, dispatches it to its command handler and holds the reply until
// the service has sent it; also carries raw "CP" print streams and "CC"
// command frames to the printer. Owns the connection's session number with
// the printer and releases the printer when the connection ends.
// Public face of net/ for the services; handlers use the helper section.
//
// One engine is driven by one handler call at a time and takes no lock of
// its own; what it shares (the printer port, the logger, the settings)
// locks itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/TvnpPacket.h"
#include "printer/ResultCodes.h"

namespace tavik {

class ConfigStore;
class Logger;
class PrinterApi;
class PrinterPort;

// A heap buffer that reports allocation failure instead of throwing.
class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;
  // Replaces the contents with `size` zeroed bytes; false when out of memory.
  bool allocate(size_t size);
  void reset();
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return data_ == nullptr; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

class CommandEngine {
 public:
  // States.
  static constexpr int kIdle = 0;
  static constexpr int kAwaitHeader = 1;
  static constexpr int kReceiving = 2;
  static constexpr int kDispatching = 4;
  static constexpr int kReplyReady = 16;

  // Results of receive().
  static constexpr int kClose = -1;
  static constexpr int kNeedTable = 1;
  static constexpr int kNeedBody = 2;
  static constexpr int kReply = 16;

  // How long a raw print stream waits for the printer (seconds).
  static constexpr int kRawPrintWait = 600;
  static constexpr size_t kPeerSize = 32;

  CommandEngine();
  ~CommandEngine();  // the connection's close: releases the printer, logs "CLOSED"
  CommandEngine(const CommandEngine&) = delete;
  CommandEngine& operator=(const CommandEngine&) = delete;

  // Borrows the three process-wide objects. Returns 1, or -1 when the port
  // is missing or the engine is already initialised.
  int init(PrinterPort* port, Logger* logger, ConfigStore* config, const char* peer);
  // Feeds one chunk. Returns kClose, kNeedTable, kNeedBody or kReply.
  int receive(const uint8_t* data, size_t size);
  // Bytes that followed a completed raw command frame in the same chunk;
  // the SDK and admin services feed them again after reset().
  bool hasPending() const { return !pending_.empty(); }
  // Feeds the held bytes as a new chunk (kNeedTable when there are none).
  int receivePending();
  // Forgets the request and the reply; the session number, the printer API
  // and any ownership of the printer stay.
  void reset();

  const uint8_t* reply() const { return reply_.data(); }
  int replySize() const { return replySize_; }
  int state() const { return state_; }
  // Bytes the raw frame buffer holds now (the frame being assembled).
  size_t rawBufferSize() const { return rawFrame_.size(); }
  uint32_t session() const { return session_; }

  // ---- for command handlers ----
  PrinterPort& port() { return *port_; }
  PrinterApi& api() { return *api_; }
  ConfigStore& config() { return *config_; }
  Logger& logger() { return *logger_; }
  const tvnp::PacketView& request() const { return view_; }
  uint16_t command() const { return view_.header().command; }
  void setState(int state) { state_ = state; }

  // True when the request has exactly k arguments, each shorter than 2^31.
  bool checkArgCount(uint32_t k) const;
  // Argument data by index; false when it does not exist.
  bool argBytes(uint32_t i, const uint8_t** data, uint32_t* length) const;
  // First 4 bytes of argument i; false when missing or shorter than 4.
  bool argU32(uint32_t i, uint32_t* out) const;
  // Argument i as 16-bit units up to its 0 unit; false when missing or
  // without a 0 unit inside its length.
  bool argText(uint32_t i, std::u16string* out) const;
  // Unit-by-unit comparison of an 8-bit string with received text: each unit
  // against the unsigned value of one character, same length.
  static bool sameText(const char* narrow, const std::u16string& wide);

  // Reply builders: copy the request header, set flags (errorBit | reply
  // bit) and count, argument 0 = result. Return 0, or -1 (building nothing)
  // when a reply is already held or memory is exhausted.
  struct Data {
    const void* data;
    size_t size;
  };
  int buildReply(uint16_t errorBit, uint32_t result);
  int buildReply(uint16_t errorBit, uint32_t result, Data a1);
  int buildReply(uint16_t errorBit, uint32_t result, Data a1, Data a2);
  int buildReply(uint16_t errorBit, uint32_t result, Data a1, Data a2, Data a3);

  // "[%08d][%15s] text extra" while no TVNP reply is held; with one held,
  // also the request and reply sizes and the reply's flags and result.
  void logLine(int level, const char* text, const char* extra = "");

 private:
  int headerStep(const uint8_t* data, size_t size);
  int bodyStep(const uint8_t* data, size_t size);
  int frameLoop(const uint8_t* data, size_t size, bool print);
  int completeRawFrame(bool print, const uint8_t* rest, size_t restSize);
  void dispatch();
  int buildReplyFrom(uint16_t errorBit, uint32_t result, const Data* args, size_t count);
  void clearRaw();

  PrinterPort* port_ = nullptr;      // not owned
  Logger* logger_ = nullptr;         // not owned
  ConfigStore* config_ = nullptr;    // not owned
  std::unique_ptr<PrinterApi> api_;  // this connection's own
  int state_ = kIdle;
  uint32_t session_ = 0;
  OwnedBytes request_;   // the whole request packet once its size is known
  OwnedBytes reply_;
  uint32_t requestReceived_ = 0;
  int32_t requestSize_ = 0;
  int32_t replySize_ = 0;
  bool replyIsTvnp_ = false;  // a raw command answer is not a TVNP packet
  char peer_[kPeerSize] = {};
  uint8_t header_[tvnp::kHeaderSize + 4 * tvnp::kMaxRequestArgs] = {};
  int32_t headerReceived_ = 0;
  tvnp::PacketView view_;  // over request_ once complete

  // Raw frames: the 8-byte header is kept apart; the frame buffer grows to
  // the declared length and is freed between frames, so an idle raw session
  // holds no frame memory.
  uint8_t rawHeader_[tvnp::kRawHeaderSize] = {};
  uint32_t rawHeld_ = 0;
  uint32_t rawLength_ = 0;
  OwnedBytes rawFrame_;
  std::string pending_;
};

}  // namespace tavik
