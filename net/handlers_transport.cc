// Card transport: SBS mode, card in and out, moves, rotations, the contact
// station and cleaning.
#include "net/CommandTable.h"

namespace tavik {
namespace {

// The handle and one integer.
template <ResultCode (PrinterApi::*Op)(int)>
void intDevice(CommandEngine& e, const char* name) {
  uint32_t value = 0;
  if (!handler::begin(e, name, 2, true) || !handler::intArg(e, name, 1, &value)) return;
  handler::finish(e, name, (e.api().*Op)(int32_t(value)));
}

}  // namespace

using handler::plainDevice;

void handleSbsStart(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::sbsStart>(e, n); }
void handleSbsEnd(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::sbsEnd>(e, n); }
void handleCardIn(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::cardIn>(e, n); }
void handleCardOut(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::cardOut>(e, n); }
void handleCardOutBack(CommandEngine& e, const char* n) {
  plainDevice<&PrinterApi::cardOutBack>(e, n);
}
void handleMove(CommandEngine& e, const char* n) { intDevice<&PrinterApi::move>(e, n); }
void handleIcContact(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::icContact>(e, n); }
void handleIcDiscontact(CommandEngine& e, const char* n) {
  plainDevice<&PrinterApi::icDiscontact>(e, n);
}
void handleRotate(CommandEngine& e, const char* n) { plainDevice<&PrinterApi::rotate>(e, n); }
void handleMoveFromIn(CommandEngine& e, const char* n) { intDevice<&PrinterApi::moveFromIn>(e, n); }
void handleMoveFromOut(CommandEngine& e, const char* n) {
  intDevice<&PrinterApi::moveFromOut>(e, n);
}
void handleRotate180(CommandEngine& e, const char* n) { intDevice<&PrinterApi::rotate180>(e, n); }
void handleDoCleaning(CommandEngine& e, const char* n) {
  plainDevice<&PrinterApi::doCleaning>(e, n);
}

}  // namespace tavik
