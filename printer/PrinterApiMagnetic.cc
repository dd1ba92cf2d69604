// PrinterApi: magnetic stripe actions and track buffer transfers.
#include "printer/PrinterApi.h"

#include <cstring>

namespace tavik {

namespace {

constexpr uint32_t kMagneticMask = 0x8008;
constexpr size_t kOneTrackCapacity = 256;
constexpr size_t kAllTracksCapacity = 1024;
constexpr uint8_t kTrackTags[3] = {mag::kTrack1, mag::kTrack2, mag::kTrack3};

// The 18 density steps of the printer's bit-data write.
constexpr uint8_t kDensities[18] = {40, 42, 44, 46, 49,  52,  56,  60,  64,
                                    70, 76, 84, 93, 105, 120, 140, 168, 210};

// 0 when exactly one track bit is set, else the code for none or several.
ResultCode checkOneTrack(uint8_t selection) {
  int bits = 0;
  for (uint8_t bit : {mag::kTrack1, mag::kTrack2, mag::kTrack3, mag::kJis}) {
    if ((selection & bit) != 0) ++bits;
  }
  if (bits == 0) return rc::kErrNoMagneticTrackData;
  if (bits > 1) return rc::kErrNoMagneticData;
  return rc::kSuccess;
}

}  // namespace

uint8_t roundDensity(int density) {
  for (uint8_t step : kDensities) {
    if (step >= density) return step;
  }
  return kDensities[17];
}

ResultCode parseTrackRecords(const uint8_t* reply, size_t length, bool crypto,
                             std::array<MagTrackRead, 3>* tracks) {
  for (MagTrackRead& t : *tracks) t.length = 0;
  if (reply == nullptr) return rc::kSuccess;
  ResultCode result = rc::kSuccess;
  size_t offset = 0;
  while (offset + 2 <= length) {
    uint8_t tag = reply[offset];
    size_t n = reply[offset + 1];
    if (offset + 2 + n > length) break;  // a record cut short by the reply's end
    for (int i = 0; i < 3; ++i) {
      MagTrackRead& t = (*tracks)[i];
      if (!t.wanted || (tag & kTrackTags[i]) == 0) continue;
      if (t.buffer == nullptr || t.capacity < 1 || n + 1 > static_cast<size_t>(t.capacity)) {
        result = rc::kErrInsufficientBuffer;
      } else {
        if (n > 0) std::memcpy(t.buffer, reply + offset + 2, n);
        t.buffer[n] = 0;
        t.length = static_cast<int>(n);
      }
      break;
    }
    // The plain reply gives an empty record a filler byte.
    offset += (n == 0 && !crypto) ? 3 : n + 2;
  }
  return result;
}

ResultCode PrinterApi::magReadAction(uint8_t selection) {
  return action(0x30, selection, kMagneticMask, rc::kErrMagneticReadWrite);
}

ResultCode PrinterApi::magReadAction2(uint8_t selection, uint8_t mode) {
  return action(0x30, selection | mode, kMagneticMask, rc::kErrMagneticReadWrite);
}

ResultCode PrinterApi::magWriteAction(uint8_t selection, int highCoercivity) {
  uint8_t parameter = selection | (highCoercivity != 0 ? mag::kHighCoercivity : 0);
  return action(0x40, parameter, kMagneticMask, rc::kErrMagneticReadWrite);
}

ResultCode PrinterApi::magWriteAction2(uint8_t selection, uint8_t flags, int density1,
                                       int density2, int density3) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  std::vector<uint8_t> frame = {0x40, 0x40, static_cast<uint8_t>(selection | flags), 0, 0, 0};
  if ((flags & mag::kBitData) != 0) {
    frame[3] = roundDensity(density1);
    frame[4] = roundDensity(density2);
    frame[5] = roundDensity(density3);
  }
  r = send(frame);
  if (r != rc::kSuccess) return r;
  return waitMotion(0, kMagneticMask, rc::kErrMagneticReadWrite);
}

ResultCode PrinterApi::magGetOne(uint8_t code, uint8_t selection, std::vector<uint8_t>* data) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  r = checkOneTrack(selection);
  if (r != rc::kSuccess) return r;
  std::vector<uint8_t> reply;
  r = request(0x40, code, selection, kOneTrackCapacity, &reply);
  if (r != rc::kSuccess) return r;
  if (data != nullptr) *data = std::move(reply);
  return rc::kSuccess;
}

ResultCode PrinterApi::magSetOne(uint8_t code, uint8_t selection, const uint8_t* data,
                                 int length) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  r = checkOneTrack(selection);
  if (r != rc::kSuccess) return r;
  if (length < 0 || length > mag::kMaxTrackBuffer || (length > 0 && data == nullptr)) {
    return rc::kErrInvalidParameter;
  }
  std::vector<uint8_t> frame = {0x40, code, selection};
  if (length > 0) frame.insert(frame.end(), data, data + length);
  return send(frame);
}

ResultCode PrinterApi::magGetBuffer(uint8_t selection, std::vector<uint8_t>* data) {
  return magGetOne(0x31, selection, data);
}
ResultCode PrinterApi::magGetCryptoBuffer(uint8_t selection, std::vector<uint8_t>* data) {
  return magGetOne(0x32, selection, data);
}
ResultCode PrinterApi::magSetBuffer(uint8_t selection, const uint8_t* data, int length) {
  return magSetOne(0x41, selection, data, length);
}
ResultCode PrinterApi::magSetCryptoBuffer(uint8_t selection, const uint8_t* data, int length) {
  return magSetOne(0x42, selection, data, length);
}

ResultCode PrinterApi::magGetAll(uint8_t code, bool crypto, std::array<MagTrackRead, 3>* tracks) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  if (tracks == nullptr) return rc::kErrInvalidParameter;
  uint8_t bits = 0;
  for (int i = 0; i < 3; ++i) {
    const MagTrackRead& t = (*tracks)[i];
    if (!t.wanted) continue;
    if (t.buffer == nullptr || t.capacity <= 0) return rc::kErrInvalidParameter;
    bits |= kTrackTags[i];
  }
  if (bits == 0) return rc::kErrNoMagneticTrackData;
  std::vector<uint8_t> reply;
  r = request(0x40, code, static_cast<uint8_t>(mag::kAllTracks | bits), kAllTracksCapacity, &reply);
  if (r != rc::kSuccess) return r;
  if (!crypto && reply.empty()) return rc::kErrCommunication;
  return parseTrackRecords(reply.data(), reply.size(), crypto, tracks);
}

ResultCode PrinterApi::magSetAll(uint8_t code, const std::array<MagTrackWrite, 3>& tracks) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  bool any = false;
  for (const MagTrackWrite& t : tracks) {
    if (!t.wanted) continue;
    any = true;
    // A record's length is one byte: a longer track cannot be written whole,
    // and cutting it would put a wrong stripe on the card.
    if (t.data == nullptr || t.length < 0 || t.length > mag::kMaxRecord) {
      return rc::kErrInvalidParameter;
    }
  }
  if (!any) return rc::kErrNoMagneticTrackData;
  std::vector<uint8_t> frame = {0x40, code, mag::kAllTracks};
  for (int i = 0; i < 3; ++i) {
    const MagTrackWrite& t = tracks[i];
    if (!t.wanted) continue;
    frame.push_back(kTrackTags[i]);
    frame.push_back(static_cast<uint8_t>(t.length));
    frame.insert(frame.end(), t.data, t.data + t.length);
  }
  return send(frame, true);
}

ResultCode PrinterApi::magGetAllBuffer(std::array<MagTrackRead, 3>* tracks) {
  return magGetAll(0x31, false, tracks);
}
ResultCode PrinterApi::magGetAllCryptoBuffer(std::array<MagTrackRead, 3>* tracks) {
  return magGetAll(0x32, true, tracks);
}
ResultCode PrinterApi::magSetAllBuffer(const std::array<MagTrackWrite, 3>& tracks) {
  return magSetAll(0x41, tracks);
}
ResultCode PrinterApi::magSetAllCryptoBuffer(const std::array<MagTrackWrite, 3>& tracks) {
  return magSetAll(0x42, tracks);
}

}  // namespace tavik
