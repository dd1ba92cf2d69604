// Connects PageSendPrn to the printer's command set: each piece of the
// print image goes through the print-data transfer without waiting, and
// the final wait is the printer's wait for the end of printing. Public face
// of render/ for the OCP Print command:
//
//   PrintDataTransfer<PrinterApi> transfer(api);
//   ResultCode rc = PageSendPrn(page, transfer, wait);
//
// A template so that render/ does not link the printer library; any type
// with printData(data, length, wait) and waitPrintEnd() fits. Borrows the
// API object, which must outlive the transfer.
#pragma once

#include "render/PrnImage.h"

#include <cstddef>
#include <cstdint>

namespace tavik {

template <typename Api>
class PrintDataTransfer : public PrintDataSink {
 public:
  explicit PrintDataTransfer(Api& api) : api_(api) {}
  PrintDataTransfer(const PrintDataTransfer&) = delete;
  PrintDataTransfer& operator=(const PrintDataTransfer&) = delete;

  uint32_t sendPrintData(const uint8_t* data, size_t length) override {
    return api_.printData(data, length, false);
  }
  uint32_t waitPrintEnd() override { return api_.waitPrintEnd(); }

 private:
  Api& api_;
};

}  // namespace tavik
