// USB vendor requests: the PC's vendor control requests passed to the
// printer as command frames.
#include <vector>

#include "net/CommandTable.h"

namespace tavik {

void handleExUsbGetCommand(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 2, true) || !handler::bytesArg(e, name, 1, &d, &n)) return;
  if (n != 3) return handler::fail(e, name, tvnp::kFlagExecution);
  std::vector<uint8_t> reply;
  ResultCode code = e.api().usbGetCommand(d, int(n), int(tvnp::kMaxRawAnswer), &reply);
  handler::finish(e, name, code, handler::Data{reply.data(), reply.size()});
}

void handleExUsbSetCommand(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 2, true) || !handler::bytesArg(e, name, 1, &d, &n)) return;
  if (n <= 2) return handler::fail(e, name, tvnp::kFlagExecution);
  handler::finish(e, name, e.api().usbSetCommand(d, int(n)));
}

}  // namespace tavik
