#include "net/CommandEngine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/CommandTable.h"
#include "net/TvnpCommands.h"
#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"
#include "server/Logger.h"

namespace tavik {

bool OwnedBytes::allocate(size_t size) {
  reset();
  data_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
  if (data_ == nullptr) return false;
  size_ = size;
  return true;
}

void OwnedBytes::reset() {
  data_.reset();
  size_ = 0;
}

CommandEngine::CommandEngine() = default;

CommandEngine::~CommandEngine() {
  if (state_ == kIdle) return;  // never initialised: nothing taken
  // Logged before the reply is freed, so that a connection that ends after
  // a TVNP answer shows that answer's flags and result.
  logLine(0, "CLOSED");
  reset();
  api_.reset();
  port_->release(int(session_));
}

int CommandEngine::init(PrinterPort* port, Logger* logger, ConfigStore* config, const char* peer) {
  if (port == nullptr || logger == nullptr || config == nullptr || state_ != kIdle) return -1;
  port_ = port;
  logger_ = logger;
  config_ = config;
  api_ = std::make_unique<PrinterApi>(*port);
  std::snprintf(peer_, sizeof peer_, "%s", peer ? peer : "");
  state_ = kAwaitHeader;
  session_ = uint32_t(port_->nextSessionId());
  clearRaw();
  logLine(0, "CONNECTED");
  return 1;
}

void CommandEngine::clearRaw() {
  rawHeld_ = 0;
  rawLength_ = 0;
  rawFrame_.reset();
}

void CommandEngine::reset() {
  request_.reset();
  reply_.reset();
  view_ = tvnp::PacketView();
  headerReceived_ = 0;
  requestReceived_ = 0;
  requestSize_ = 0;
  replySize_ = 0;
  replyIsTvnp_ = false;
  clearRaw();
  if (state_ != kIdle) state_ = kAwaitHeader;
}

int CommandEngine::receive(const uint8_t* data, size_t size) {
  if (state_ == kAwaitHeader) return headerStep(data, size);
  if (state_ == kReceiving) return bodyStep(data, size);
  return kClose;
}

int CommandEngine::receivePending() {
  if (pending_.empty()) return kNeedTable;
  std::string chunk;
  chunk.swap(pending_);
  return receive(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
}

int CommandEngine::headerStep(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0) return kClose;
  size_t used = 0;
  if (headerReceived_ == 0) {
    tvnp::Header h;
    if (size >= tvnp::kHeaderSize && tvnp::parseHeader(data, size, &h)) {
      // The header area holds 12 lengths; a larger count is a malformed
      // header like any other and ends the connection.
      if (h.count > tvnp::kMaxRequestArgs) return kClose;
      std::memcpy(header_, data, tvnp::kHeaderSize);
      used = tvnp::kHeaderSize;
    } else if (size >= 2 && data[0] == 'C' && (data[1] == 'P' || data[1] == 'C')) {
      h.sequence = 0;
      h.command = data[1] == 'P' ? tvcid::kRawPrint : tvcid::kRawCommand;
      h.flags = tvnp::kFlagRequest;
      h.count = 0;
      tvnp::writeHeader(h, header_);
    } else {
      return kClose;
    }
    headerReceived_ = int32_t(tvnp::kHeaderSize);
  }
  uint32_t count = tvnp::loadU32(header_ + 12);
  size_t table = tvnp::kHeaderSize + 4 * size_t(count);
  size_t missing = table - size_t(headerReceived_);
  size_t take = std::min(missing, size - used);
  std::memcpy(header_ + headerReceived_, data + used, take);
  headerReceived_ += int32_t(take);
  used += take;
  if (size_t(headerReceived_) < table) return kNeedTable;

  uint64_t total = 0;
  if (!tvnp::packetSize(header_, table, &total) || total > tvnp::kMaxPacketSize) return kClose;
  uint16_t command = tvnp::loadU16(header_ + 8);
  const bool raw = command == tvcid::kRawPrint || command == tvcid::kRawCommand;
  // A raw session reads frames after the table; its declared argument bytes
  // never arrive as such, so only the table is kept.
  if (!request_.allocate(raw ? table : size_t(total))) return kClose;
  std::memcpy(request_.data(), header_, table);
  requestSize_ = int32_t(total);
  requestReceived_ = uint32_t(table);
  if (raw) clearRaw();
  state_ = kReceiving;
  return bodyStep(data + used, size - used);
}

int CommandEngine::bodyStep(const uint8_t* data, size_t size) {
  uint16_t command = tvnp::loadU16(request_.data() + 8);
  if (command == tvcid::kRawPrint) {
    logLine(0, "TVCID_RAW_PRINT");
    if (size == 0) return kNeedBody;
    if (port_->acquire(int(session_), kRawPrintWait) != int(session_)) {
      logLine(3, "TVCID_RAW_PRINT TIMEOUT");
      return kClose;
    }
    int r = frameLoop(data, size, true);
    return r == kClose ? kClose : kNeedBody;
  }
  if (command == tvcid::kRawCommand) {
    logLine(0, "TVCID_RAW_COMMAND");
    if (size == 0) return kNeedBody;
    return frameLoop(data, size, false);
  }
  // A client sends its next request only after reading the reply, so bytes
  // beyond the declared packet are a protocol error.
  if (uint64_t(requestReceived_) + size > uint64_t(requestSize_)) return kClose;
  if (size > 0) std::memcpy(request_.data() + requestReceived_, data, size);
  requestReceived_ += uint32_t(size);
  if (requestReceived_ < uint32_t(requestSize_)) return kNeedBody;
  if (!view_.parse(request_.data(), request_.size())) return kClose;
  state_ = kDispatching;
  dispatch();
  return kReply;
}

int CommandEngine::frameLoop(const uint8_t* data, size_t size, bool print) {
  const char c1 = print ? 'P' : 'C';
  size_t pos = 0;
  while (pos < size) {
    if (rawHeld_ < tvnp::kRawHeaderSize) {
      size_t take = std::min(size_t(tvnp::kRawHeaderSize - rawHeld_), size - pos);
      std::memcpy(rawHeader_ + rawHeld_, data + pos, take);
      rawHeld_ += uint32_t(take);
      pos += take;
      if (rawHeld_ < tvnp::kRawHeaderSize) return kNeedBody;
      uint32_t length = 0;
      if (!tvnp::rawHeaderValid(rawHeader_, 'C', c1, &length)) {
        logLine(3, print ? "TVCID_RAW_PRINT WRONG HEADER" : "TVCID_RAW_COMMAND WRONG HEADER");
        clearRaw();
        continue;
      }
      // The frame buffer grows to this frame's length only, and is given
      // back once the frame has gone to the printer.
      if (!rawFrame_.allocate(length)) return kClose;
      std::memcpy(rawFrame_.data(), rawHeader_, tvnp::kRawHeaderSize);
      rawLength_ = length;
    }
    size_t take = std::min(size_t(rawLength_ - rawHeld_), size - pos);
    std::memcpy(rawFrame_.data() + rawHeld_, data + pos, take);
    rawHeld_ += uint32_t(take);
    pos += take;
    if (rawHeld_ < rawLength_) return kNeedBody;
    int r = completeRawFrame(print, data + pos, size - pos);
    if (r != kNeedBody) return r;
  }
  return kNeedBody;
}

int CommandEngine::completeRawFrame(bool print, const uint8_t* rest, size_t restSize) {
  if (print) {
    ssize_t written = port_->write(rawFrame_.data(), rawLength_);
    if (written != ssize_t(rawLength_)) {
      char text[64];
      std::snprintf(text, sizeof text, "TVCID_RAW_PRINT WRITE_ERROR(R:%d, W:%d)", int(rawLength_),
                    int(written));
      logLine(3, text);
      clearRaw();
      return kClose;
    }
    clearRaw();
    return kNeedBody;
  }
  uint8_t answer[tvnp::kMaxRawAnswer];
  int n = port_->commandRead(rawFrame_.data() + tvnp::kRawHeaderSize,
                             rawLength_ - tvnp::kRawHeaderSize, answer, sizeof answer);
  clearRaw();
  if (n < 1) {
    logLine(3, "TVCID_RAW_COMMAND ERROR");
    return kClose;
  }
  // A reply already held means a second raw command before the first
  // answer was taken (the spool port never resets): end the connection
  // rather than send the old answer again.
  if (!reply_.empty()) return kClose;
  size_t size = tvnp::kRawHeaderSize + size_t(n);
  if (reply_.allocate(size)) {
    reply_.data()[0] = 'C';
    reply_.data()[1] = 'C';
    reply_.data()[2] = 0x02;
    reply_.data()[3] = 0x00;
    tvnp::storeU32(reply_.data() + 4, uint32_t(size));
    std::memcpy(reply_.data() + tvnp::kRawHeaderSize, answer, size_t(n));
    replySize_ = int32_t(size);
    replyIsTvnp_ = false;
  }
  // What followed the frame in this chunk belongs to the next exchange.
  if (restSize > 0) pending_.assign(reinterpret_cast<const char*>(rest), restSize);
  return kReply;
}

void CommandEngine::dispatch() {
  const CommandEntry* entry = findCommand(command());
  if (entry == nullptr) {
    handleBadCommand(*this, "TVCID_DEFAULT");
  } else {
    entry->handler(*this, entry->name);
  }
  state_ = kReplyReady;
}

bool CommandEngine::checkArgCount(uint32_t k) const {
  if (view_.count() != k) return false;
  for (uint32_t i = 0; i < k; ++i) {
    const uint8_t* d;
    uint32_t len;
    if (!view_.arg(i, &d, &len) || len >= tvnp::kMaxArgLength) return false;
  }
  return true;
}

bool CommandEngine::argBytes(uint32_t i, const uint8_t** data, uint32_t* length) const {
  return view_.arg(i, data, length);
}

bool CommandEngine::argU32(uint32_t i, uint32_t* out) const { return view_.argU32(i, out); }

bool CommandEngine::argText(uint32_t i, std::u16string* out) const {
  const uint8_t* d;
  uint32_t len;
  if (!view_.arg(i, &d, &len)) return false;
  std::u16string text;
  for (uint32_t off = 0; off + 2 <= len; off += 2) {
    char16_t unit = char16_t(tvnp::loadU16(d + off));
    if (unit == 0) {
      *out = std::move(text);
      return true;
    }
    text.push_back(unit);
  }
  return false;
}

bool CommandEngine::sameText(const char* narrow, const std::u16string& wide) {
  size_t n = std::strlen(narrow);
  if (n != wide.size()) return false;
  for (size_t i = 0; i < n; ++i)
    if (uint16_t(wide[i]) != uint8_t(narrow[i])) return false;
  return true;
}

int CommandEngine::buildReplyFrom(uint16_t errorBit, uint32_t result, const Data* args,
                                  size_t count) {
  if (!reply_.empty() || request_.empty()) return -1;
  uint64_t size = tvnp::kHeaderSize + 4 * (count + 1) + 4;
  for (size_t i = 0; i < count; ++i) size += args[i].size;
  if (size > tvnp::kMaxPacketSize || !reply_.allocate(size_t(size))) return -1;
  uint8_t* out = reply_.data();
  std::memcpy(out, request_.data(), tvnp::kHeaderSize);
  tvnp::storeU16(out + 10, uint16_t(errorBit | tvnp::kFlagReply));
  tvnp::storeU32(out + 12, uint32_t(count + 1));
  size_t pos = tvnp::kHeaderSize;
  tvnp::storeU32(out + pos, 4);
  pos += 4;
  for (size_t i = 0; i < count; ++i, pos += 4) tvnp::storeU32(out + pos, uint32_t(args[i].size));
  tvnp::storeU32(out + pos, result);
  pos += 4;
  for (size_t i = 0; i < count; ++i) {
    if (args[i].size > 0) std::memcpy(out + pos, args[i].data, args[i].size);
    pos += args[i].size;
  }
  replySize_ = int32_t(size);
  replyIsTvnp_ = true;
  return 0;
}

int CommandEngine::buildReply(uint16_t errorBit, uint32_t result) {
  return buildReplyFrom(errorBit, result, nullptr, 0);
}

int CommandEngine::buildReply(uint16_t errorBit, uint32_t result, Data a1) {
  return buildReplyFrom(errorBit, result, &a1, 1);
}

int CommandEngine::buildReply(uint16_t errorBit, uint32_t result, Data a1, Data a2) {
  Data a[] = {a1, a2};
  return buildReplyFrom(errorBit, result, a, 2);
}

int CommandEngine::buildReply(uint16_t errorBit, uint32_t result, Data a1, Data a2, Data a3) {
  Data a[] = {a1, a2, a3};
  return buildReplyFrom(errorBit, result, a, 3);
}

void CommandEngine::logLine(int level, const char* text, const char* extra) {
  if (logger_ == nullptr) return;
  const char* blank = (extra != nullptr && extra[0] != '\0') ? " " : "";
  if (extra == nullptr) extra = "";
  if (replyIsTvnp_ && replySize_ >= 24) {
    // Argument 0 (the result) follows the length table.
    const uint8_t* r = reply_.data();
    size_t resultAt = tvnp::kHeaderSize + 4 * size_t(tvnp::loadU32(r + 12));
    uint32_t result = resultAt + 4 <= size_t(replySize_) ? tvnp::loadU32(r + resultAt) : 0xFFFFFFFF;
    logger_->log(level, "[%08d][%15s] %s %d %d[0x%04X:0x%08X]%s%s", int(session_), peer_, text,
                 int(requestSize_), int(replySize_), unsigned(tvnp::loadU16(r + 10)),
                 unsigned(result), blank, extra);
  } else {
    logger_->log(level, "[%08d][%15s] %s%s%s", int(session_), peer_, text, blank, extra);
  }
}

}  // namespace tavik
