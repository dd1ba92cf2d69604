#include "sim/printer/PrinterModel.h"

#include <cstring>

#include "sim/printer/ModelBytes.h"

namespace tavik::sim {

using namespace model_detail;

// ---------------------------------------------------------------- actions

void PrinterModel::enqueueMove(int job, CardPosition to, uint32_t bitA, uint32_t fault,
                               int offset) {
  enqueue(job, bitA, config_.timings.move, [this, to, fault, offset] {
    if (!cardAction(fault)) return false;
    position_ = to;
    positionOffset_ = offset;
    contacted_ = false;
    return true;
  });
}

void PrinterModel::enqueueFlip(int job, uint32_t bitFlip, uint32_t fault, int toTop) {
  enqueue(job, word_a::kToFlipper | bitFlip, config_.timings.rotate, [this, fault, toTop] {
    if (!cardAction(fault)) return false;
    card_->backUp = !card_->backUp;
    flipperTop_ = toTop < 0 ? !flipperTop_ : toTop == 1;
    position_ = CardPosition::kFlipper;
    contacted_ = false;
    return true;
  });
}

bool PrinterModel::handleAction(const uint8_t* f, size_t n) {
  using namespace word_a;
  const auto& t = config_.timings;
  switch (f[1]) {
    case 0x01:  // card in from the hopper
      enqueue(newJob(), kTakingIn, t.cardIn, [this] {
        if (takeInjected()) return false;
        if (coverOpen_ || locked_ || card_ || hopper_.empty()) {
          faults_ |= word_b::kCardIn;
          return false;
        }
        card_ = std::move(hopper_.front());
        hopper_.pop_front();
        card_->number = ++cardCounter_;
        card_->where = "inside";
        position_ = CardPosition::kIn;
        ++cardsFed_;
        return true;
      });
      return true;
    case 0x02:
    case 0x03: {  // card out to the stacker, or to the back
      const bool back = f[1] == 0x03;
      enqueue(newJob(), kEjecting, t.cardOut, [this, back] {
        if (!cardAction(back ? word_b::kEjectBack : word_b::kEject)) return false;
        card_->where = back ? "back" : "stacker";
        ejected_.push_back(std::move(*card_));
        card_.reset();
        position_ = CardPosition::kNone;
        contacted_ = false;
        return true;
      });
      return true;
    }
    case 0x05: enqueueMove(newJob(), CardPosition::kPrint, kToPrint, word_b::kToPrint); return true;
    case 0x06:
      enqueueMove(newJob(), CardPosition::kMagnetic, kToMagnetic, word_b::kToMagnetic);
      return true;
    case 0x07:
      enqueueMove(newJob(), CardPosition::kContact, kToContact, word_b::kToContact);
      return true;
    case 0x08:
      enqueueMove(newJob(), CardPosition::kContactless, kToContactless, word_b::kToContactless);
      return true;
    case 0x09:
      enqueueMove(newJob(), CardPosition::kFlipper, kToFlipper, word_b::kToFlipper);
      return true;
    case 0x0A:
      enqueueMove(newJob(), CardPosition::kDevice, kToPrinter, word_b::kToPrinter);
      return true;
    case 0x14:
      enqueueMove(newJob(), CardPosition::kFromIn, kToPrint, word_b::kToContactless,
                  static_cast<int8_t>(f[2]));
      return true;
    case 0x15:
      enqueueMove(newJob(), CardPosition::kFromOut, kToPrint, word_b::kToContact,
                  static_cast<int8_t>(f[2]));
      return true;
    case 0x1C:
      enqueueFlip(newJob(), flipperTop_ ? kFlipBottom : kFlipTop, word_b::kToFlipper, -1);
      return true;
    case 0x1A:
      enqueueFlip(newJob(), kFlipTop, word_b::kToFlipper | word_b::kFlipTop, 1);
      return true;
    case 0x1B:
      enqueueFlip(newJob(), kFlipBottom, word_b::kToFlipper | word_b::kFlipBottom, 0);
      return true;
    case 0x12:  // contact the smart-card reader: only at the contact station
      enqueue(newJob(), kContacting, t.contact, [this] {
        if (!cardAction(word_b::kContact)) return false;
        if (position_ != CardPosition::kContact) {
          faults_ |= word_b::kContact;
          return false;
        }
        contacted_ = true;
        return true;
      });
      return true;
    case 0x13:
      enqueue(newJob(), kDiscontacting, t.contact, [this] {
        if (takeInjected()) return false;
        contacted_ = false;
        return true;
      });
      return true;
    case 0x1E:  // cleaning needs the cover open and the hopper empty
      if (!coverOpen_ || !hopper_.empty()) return false;
      enqueue(newJob(), kTestMode, t.clean, [this] {
        ++cleanings_;
        return true;
      });
      return true;
    case 0x30:
      enqueueMagnetic(f[2], false);
      return true;
    case 0x40:
      enqueueMagnetic(f[2], true);
      return true;
    case 0x41:
    case 0x42:
      setTracks(f[2], f + 3, n - 3, f[1] == 0x42);
      return true;
    case 0x0B:  // print the page held in SBS mode
      if (!pagePending_ || !heldImage_) {
        faults_ |= word_b::kDataFault;
        return true;
      }
      pagePending_ = false;
      enqueuePrintJob(heldImage_, true);
      return true;
    case 0x0C:
    case 0x0D:
      sbs_ = f[1] == 0x0C;
      enqueue(newJob(), kSbsBusy, t.sbsCommand, nullptr);
      return true;
    case 0x0F:
      autoRotator_ = true;
      enqueue(newJob(), kSbsBusy, t.autoRotator, nullptr);
      return true;
    case 0x1D:
      testMode_ = !testMode_;
      return true;
    case 0x20: {  // LCD text: mode, line, text
      if (n < 5 || f[4] > 1) return false;
      std::string text(reinterpret_cast<const char*>(f + 5), n - 5);
      text = text.substr(0, text.find('\0'));
      while (!text.empty() && text.back() == ' ') text.pop_back();
      lcd_[f[4]] = text;
      return true;
    }
    case 0x21:
      ++beeps_;
      return true;
    case 0x70:
      lastRunTest_ = f[2];
      return true;
    case 0xF0:
      faults_ = 0;
      return true;
    case 0xF1:  // reboot: forget everything volatile, show initialising
      queue_.clear();
      headDown_ = false;
      sbs_ = false;
      testMode_ = false;
      contacted_ = false;
      faults_ = 0;
      trackBuffer_ = {};
      stream_.clear();
      heldImage_.reset();
      pagePending_ = false;
      replies_.clear();
      lcd_ = {};
      enqueue(newJob(), kInitialising, t.reboot, nullptr);
      return true;
    default:
      return false;
  }
}

}  // namespace tavik::sim
