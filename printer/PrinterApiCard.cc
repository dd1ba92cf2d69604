// PrinterApi: dropping this client's smart-card connection. The encoder
// operations themselves (power on, transmit, power off, reader search) live
// with the PC/SC bridge in smartcard/.
#include "printer/PrinterApi.h"

namespace tavik {

PrinterApi::~PrinterApi() { releaseCard(); }

ResultCode PrinterApi::releaseCard() {
  if (cardContext_ != 0) {
    SCardDisconnect(cardHandle_, SCARD_UNPOWER_CARD);
    SCardReleaseContext(cardContext_);
    cardContext_ = 0;
  }
  return rc::kSuccess;
}

}  // namespace tavik
