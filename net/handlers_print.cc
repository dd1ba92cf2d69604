// Printing: print data with the wait for the printer, and the print start
// in SBS mode with or without waiting.
#include "net/CommandTable.h"

namespace tavik {

void handlePrint(CommandEngine& e, const char* name) {
  const uint8_t* data;
  uint32_t length;
  if (!handler::begin(e, name, 2, true) || !handler::bytesArg(e, name, 1, &data, &length)) return;
  handler::finish(e, name, e.api().print(data, length));
}

// Only argument and handle failures of the print start are logged; the
// start itself is too frequent in SBS jobs to log.
void handleDoPrint(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  ResultCode code = e.api().doPrint();
  if (code != rc::kSuccess) e.buildReply(tvnp::kFlagExecution, code);
  else e.buildReply(0, rc::kSuccess);
}

void handleDoPrint2(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  ResultCode code = e.api().doPrint2();
  if (code != rc::kSuccess) e.buildReply(tvnp::kFlagExecution, code);
  else e.buildReply(0, rc::kSuccess);
}

}  // namespace tavik
