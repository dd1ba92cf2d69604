// The print image (PRN) of a card page and its way to the printer. Public
// face of render/ for the OCP Print command.
//
// PageMakePrn separates, dithers, turns, compensates and encodes the page
// in place: a page can be printed once and is released afterwards.
// PageSendPrn hands the image piece by piece to a PrintDataSink, which the
// caller connects to the printer's print-data transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavik {

struct PrintPage;

// Where the print image goes. The OCP connects it to its PrinterApi: each
// piece goes through the print-data transfer without waiting, and the final
// wait is the printer's wait for the end of printing. Both return 0 or a
// result code.
class PrintDataSink {
 public:
  virtual ~PrintDataSink() = default;
  virtual uint32_t sendPrintData(const uint8_t* data, size_t length) = 0;
  virtual uint32_t waitPrintEnd() = 0;
};

// Makes the print image in the page's work area. 1 when it is complete;
// 0 when memory ran out, the page is not ready, or its print image was
// already made (or attempted) since the last PageInit or PageClear ("Error
// on making PRN image"). Changes the page's pixels whatever the outcome.
int PageMakePrn(PrintPage* page);

// Sends the header and then every section (panel header, encoded data) in
// printing order, stopping at the first error and returning its code; with
// `wait` 1 then waits for the end of printing and returns that result.
// 0 on success; 0xFFFFFFFF when the page holds no complete print image.
uint32_t PageSendPrn(PrintPage* page, PrintDataSink& sink, int wait);

// The whole print image as one byte string (for files and tools). 1 when
// the page holds a complete image, else 0 and `out` empty.
int PagePrnBytes(PrintPage* page, std::vector<uint8_t>* out);

}  // namespace tavik
