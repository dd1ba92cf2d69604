// PrinterApi: card transport, the contact station and cleaning.
#include "printer/PrinterApi.h"

#include <algorithm>

namespace tavik {

namespace {

struct Position {
  uint8_t code;
  uint8_t parameter;
  uint32_t maskB;
  ResultCode fault;
};

// Move targets 0 to 6; 6 is a move from the in sensor by -62.
constexpr Position kPositions[7] = {
    {0x05, 0x00, 0x02, rc::kErrMoveToPrint},
    {0x06, 0x00, 0x08, rc::kErrMoveToMagnetic},
    {0x07, 0x00, 0x10, rc::kErrMoveToContact},
    {0x08, 0x00, 0x20, rc::kErrMoveToContactless},
    {0x09, 0x00, 0x40, rc::kErrMoveToFlipper},
    {0x0A, 0x00, 0x80, rc::kErrMoveToDevice},
    {0x14, static_cast<uint8_t>(-62), 0x20, rc::kErrMoveFromInSensor},
};

constexpr uint32_t kRotateMask = 0x30C0;
// The printer reports rotation faults with this code.
constexpr ResultCode kRotateFault = 0x80000037;

uint8_t distanceByte(int distance) {
  int clamped = std::clamp(distance, -127, 127);
  return static_cast<uint8_t>(static_cast<int8_t>(clamped));
}

}  // namespace

ResultCode PrinterApi::action(uint8_t code, uint8_t parameter, uint32_t maskB,
                              ResultCode faultCode) {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  r = send({0x40, code, parameter});
  if (r != rc::kSuccess) return r;
  return waitMotion(0, maskB, faultCode);
}

ResultCode PrinterApi::cardIn() {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  PrinterStatus st;
  r = getStatus(&st);
  if (r != rc::kSuccess) return r;
  if ((st.a & status_a::kCardInside) != 0) return rc::kErrCardInside;
  r = send({0x40, 0x01, 0x00});
  if (r != rc::kSuccess) return r;
  return waitMotion(0, 0x01, rc::kErrCardIn);
}

ResultCode PrinterApi::cardOut() { return action(0x02, 0x00, 0x04, rc::kErrCardOut); }

ResultCode PrinterApi::cardOutBack() { return action(0x03, 0x00, 0x400000, rc::kErrCardOutBack); }

ResultCode PrinterApi::move(int position) {
  if (position < 0 || position > 6) {
    ResultCode r = prepare();
    if (r != rc::kSuccess) return r;
    return rc::kErrInvalidParameter;
  }
  const Position& p = kPositions[position];
  return action(p.code, p.parameter, p.maskB, p.fault);
}

ResultCode PrinterApi::moveFromIn(int distance) {
  return action(0x14, distanceByte(distance), 0x20, rc::kErrMoveFromInSensor);
}

ResultCode PrinterApi::moveFromOut(int distance) {
  return action(0x15, distanceByte(distance), 0x10, rc::kErrMoveFromOutSensor);
}

ResultCode PrinterApi::rotate() { return action(0x1C, 0x00, kRotateMask, kRotateFault); }

ResultCode PrinterApi::rotate180(int direction) {
  return action(direction == 1 ? 0x1A : 0x1B, 0x00, kRotateMask, kRotateFault);
}

// The printer's codes for the contact station are the other way round from
// their texts; clients know them by number.
ResultCode PrinterApi::icContact() { return action(0x12, 0x00, 0x800, 0x8000001F); }

ResultCode PrinterApi::icDiscontact() { return action(0x13, 0x00, 0x400, 0x8000001E); }

ResultCode PrinterApi::doCleaning() {
  ResultCode r = prepare();
  if (r != rc::kSuccess) return r;
  r = send({0x40, 0x1E, 0x00});
  if (r != rc::kSuccess) return r;
  sleepMs(500);
  return rc::kSuccess;
}

}  // namespace tavik
