// Raw printer data: command frames and data-bank registers passed to the
// printer port unchanged, without a handle, so that tools can poll a
// printer that another connection holds.
#include "net/CommandTable.h"
#include "printer/PrinterPort.h"

namespace tavik {
namespace {

using handler::Data;

bool isStatusPoll(const uint8_t* d, uint32_t n) {
  return n >= 3 && (d[0] == 0x00 || d[0] == 0x02) && d[1] == 0x00 && d[2] == 0x00;
}

}  // namespace

void handleRawSetData(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 1, false) || !handler::bytesArg(e, name, 0, &d, &n)) return;
  if (e.port().commandWrite(d, n) < 0) return handler::fail(e, name, tvnp::kFlagExecution);
  handler::finish(e, name, rc::kSuccess);
}

void handleRawGetData(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 1, false) || !handler::bytesArg(e, name, 0, &d, &n)) return;
  // Status polling would fill the log at the default threshold.
  int level = isStatusPoll(d, n) ? 0 : 1;
  uint8_t answer[tvnp::kMaxRawAnswer];
  int got = e.port().commandRead(d, n, answer, sizeof answer);
  if (got < 1) {
    e.buildReply(tvnp::kFlagExecution, rc::kFail);
    e.logLine(level, name);
    return;
  }
  handler::finish(e, name, rc::kSuccess, Data{answer, size_t(got)}, level);
}

void handleRawSetDataBank(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 1, false) || !handler::bytesArg(e, name, 0, &d, &n)) return;
  if (n != 8) return handler::fail(e, name, tvnp::kFlagArgument);
  if (e.port().setDataBank(d, d + 4) < 0) return handler::fail(e, name, tvnp::kFlagExecution);
  handler::finish(e, name, rc::kSuccess);
}

void handleRawGetDataBank(CommandEngine& e, const char* name) {
  const uint8_t* d;
  uint32_t n;
  if (!handler::begin(e, name, 1, false) || !handler::bytesArg(e, name, 0, &d, &n)) return;
  if (n != 4) return handler::fail(e, name, tvnp::kFlagArgument);
  uint8_t value[4] = {};
  if (e.port().getDataBank(d, value) != 4) return handler::fail(e, name, tvnp::kFlagExecution);
  handler::finish(e, name, rc::kSuccess, Data{value, 4});
}

}  // namespace tavik
