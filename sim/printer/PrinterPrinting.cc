#include "sim/printer/PrinterModel.h"

#include <algorithm>
#include <cstdio>

#include "sim/printer/CardWriter.h"
#include "sim/printer/ModelBytes.h"

namespace tavik::sim {

using namespace model_detail;

namespace {

bool isReadRequest(const uint8_t* f) {
  if ((f[0] == 0x00 || f[0] == 0x02) && f[1] == 0x00) return true;
  if (f[0] == 0x40) return f[1] == 0x31 || f[1] == 0x32;
  if (f[0] != 0x50) return false;
  switch (f[1]) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x06: case 0x0B: case 0x0D:
    case 0x10: case 0x11: case 0x12: case 0x22:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- printing

void PrinterModel::enqueuePrintJob(std::shared_ptr<const PrnImage> image, bool sbs) {
  using namespace word_a;
  const auto& t = config_.timings;
  // The whole job shows as printing (and as an SBS command in SBS mode), so
  // that a host waiting for the end of printing does not stop while the
  // card is still being fed.
  const uint32_t extra = kPrinting | (sbs ? kSbsBusy : 0);
  const int job = newJob();
  if (!sbs) {
    // Takes a card from the hopper unless one is inside already.
    enqueue(job, kTakingIn | extra, t.cardIn, [this] {
      if (takeInjected()) return false;
      if (card_) return true;
      if (coverOpen_ || locked_ || hopper_.empty()) {
        faults_ |= word_b::kCardIn | word_b::kPrinting;
        return false;
      }
      card_ = std::move(hopper_.front());
      hopper_.pop_front();
      card_->number = ++cardCounter_;
      card_->where = "inside";
      ++cardsFed_;
      position_ = CardPosition::kIn;
      return true;
    });
    enqueueMove(job, CardPosition::kPrint, kToPrint | extra,
                word_b::kToPrint | word_b::kPrinting);
    const bool backUp = card_ ? card_->backUp : false;
    if (backUp != image->isBack()) {
      enqueueFlip(job, kFlipBottom | extra, word_b::kToFlipper | word_b::kPrinting, -1);
      enqueueMove(job, CardPosition::kPrint, kToPrint | extra,
                  word_b::kToPrint | word_b::kPrinting);
    }
  }
  enqueue(job, kRibbonAlign | extra, t.ribbonAlign, [this] {
    if (takeInjected()) return false;
    if (!card_ || coverOpen_ || locked_) {
      faults_ |= word_b::kPrinting;
      return false;
    }
    if (ribbonEmpty_ || ribbonRemaining_ <= 0) {
      faults_ |= word_b::kRibbonEmpty;
      return false;
    }
    return true;
  });
  enqueue(job, kHeadLowering | extra, t.head, [this] {
    headDown_ = true;
    return true;
  });
  const int panels = static_cast<int>(std::max<size_t>(1, image->panels.size()));
  enqueue(job, kRibbonWind | extra, t.printPanel * panels,
          [this, image] { return finishPrinting(image); });
  enqueue(job, kHeadLifting | extra, t.head, [this] {
    headDown_ = false;
    return true;
  });
  if (!sbs) {
    enqueue(job, kEjecting | extra, t.cardOut, [this] {
      if (!cardAction(word_b::kEject)) return false;
      card_->where = "stacker";
      ejected_.push_back(std::move(*card_));
      card_.reset();
      position_ = CardPosition::kNone;
      return true;
    });
  }
}

bool PrinterModel::finishPrinting(const std::shared_ptr<const PrnImage>& image) {
  if (takeInjected()) return false;
  if (!card_ || coverOpen_) {
    faults_ |= word_b::kPrinting;
    return false;
  }
  PrintedSide side;
  side.card = card_->number;
  side.side = card_->backUp ? "back" : "front";
  side.image = image;
  (card_->backUp ? card_->backPrinted : card_->frontPrinted) = true;
  char base[64];
  std::snprintf(base, sizeof base, "card-%04d-%s", side.card, side.side.c_str());
  side.baseName = base;
  int again = 1;
  for (const auto& p : printed_) {
    if (p.card == side.card && p.side == side.side) ++again;
  }
  if (again > 1) side.baseName += "-" + std::to_string(again);
  --ribbonRemaining_;
  ++cardsPrinted_;
  ++userIssueCount_;
  ++factIssueCount_;
  panelsPrinted_ += static_cast<uint32_t>(image->panels.size());

  std::string panels;
  for (const auto& p : image->panels) {
    panels += (panels.empty() ? "" : " ") + p.name;
    if (p.encoding == 2) panels += "(lines " + std::to_string(p.firstLine) + "+" +
                                   std::to_string(p.lineCount) + ")";
  }
  std::string s = "card " + std::to_string(side.card) + ", " + side.side + " side\n";
  s += "image side: " + image->sideName() + ", lamination: " + image->lamination() + "\n";
  s += "panels: " + panels + "\n";
  s += "size: " + std::to_string(image->width) + " x " + std::to_string(image->height) + "\n";
  char flags[64];
  std::snprintf(flags, sizeof flags, "panel flags: 0x%03X, option flags: 0x%04X\n",
                image->panelFlags, image->optionFlags);
  s += flags;
  if (image->panel(kPanelO)) s += "overlay: printed (clear, not in the preview)\n";
  if (image->panel(kPanelF)) s += "fluorescent: printed (shows under UV only, not in the preview)\n";
  for (const auto& w : image->warnings) s += "warning: " + w + "\n";
  side.summary = s;
  printed_.push_back(side);
  if (writer_) writer_->submitCard(side.baseName, image, side.summary);
  return true;
}

// ---------------------------------------------------------------- data channel

void PrinterModel::rejectData(const std::vector<uint8_t>& bytes, const std::string& why) {
  faults_ |= word_b::kDataFault;
  ++rejectCounter_;
  if (!writer_) return;
  char name[32];
  std::snprintf(name, sizeof name, "bad-%04d", rejectCounter_);
  std::vector<uint8_t> kept(bytes.begin(),
                            bytes.begin() + static_cast<long>(std::min(bytes.size(), kMaxKeptReject)));
  writer_->submitRaw(std::string(name) + ".prn", std::move(kept));
  std::string reason = why + "\n";
  writer_->submitRaw(std::string(name) + ".txt", {reason.begin(), reason.end()});
}

void PrinterModel::handleImage(const std::vector<uint8_t>& frame) {
  auto image = std::make_shared<PrnImage>();
  std::string error;
  if (!decodePrnImage(frame.data(), frame.size(), image.get(), &error)) {
    rejectData(frame, error);
    return;
  }
  heldImage_ = image;
  if (sbs_) {
    pagePending_ = true;  // waits for the print command
  } else {
    enqueuePrintJob(image, false);
  }
}

void PrinterModel::handleCc(const std::vector<uint8_t>& frame) {
  const uint8_t* cmd = frame.data() + 8;
  const size_t n = frame.size() - 8;
  if (n < 3) return;
  if (n == 3 && isReadRequest(cmd)) {
    std::vector<uint8_t> answer = readLocked(cmd);
    if (answer.empty()) return;
    answer.resize(std::min(answer.size(), kMaxReplyFrame));
    uint8_t head[8] = {'C', 'C', 0x02, 0x00};
    put32(head + 4, static_cast<uint32_t>(8 + answer.size()));
    replies_.insert(replies_.end(), head, head + 8);
    replies_.insert(replies_.end(), answer.begin(), answer.end());
    return;
  }
  if (cmd[0] == 0x40) {
    handleAction(cmd, n);
  } else if (cmd[0] == 0x50) {
    handleSetting(cmd, n);
  }
}

void PrinterModel::parseDataStream() {
  while (!stream_.empty()) {
    if (stream_[0] != 'C' || (stream_.size() >= 2 && stream_[1] != 'P' && stream_[1] != 'C')) {
      // Not a frame: skip to the next frame start and keep the rest as rejected.
      size_t next = stream_.size();
      for (size_t i = 1; i + 1 < stream_.size(); ++i) {
        if (stream_[i] == 'C' && (stream_[i + 1] == 'P' || stream_[i + 1] == 'C')) {
          next = i;
          break;
        }
      }
      std::vector<uint8_t> junk(stream_.begin(), stream_.begin() + static_cast<long>(next));
      stream_.erase(stream_.begin(), stream_.begin() + static_cast<long>(next));
      rejectData(junk, "data that is no print frame");
      continue;
    }
    if (stream_.size() < 8) return;
    uint32_t length = le32(stream_.data() + 4);
    if (length < 8 || length > kMaxFrame) {
      std::vector<uint8_t> junk;
      junk.swap(stream_);
      rejectData(junk, "print frame length " + std::to_string(length) + " out of range");
      return;
    }
    if (stream_.size() < length) return;
    std::vector<uint8_t> frame(stream_.begin(), stream_.begin() + length);
    stream_.erase(stream_.begin(), stream_.begin() + length);
    if (frame[1] == 'P') {
      handleImage(frame);
    } else {
      handleCc(frame);
    }
  }
}

void PrinterModel::printData(const uint8_t* data, size_t size) {
  if (size == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  if (stream_.empty() && data[0] == 'C' && (size < 2 || data[1] == 'P')) {
    // A new image starts: the old one is gone, and so is its data fault.
    heldImage_.reset();
    pagePending_ = false;
    faults_ &= ~word_b::kDataFault;
  }
  stream_.insert(stream_.end(), data, data + size);
  lastData_ = Clock::now();
  parseDataStream();
}

std::vector<uint8_t> PrinterModel::takeReply(size_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = std::min(maxBytes, replies_.size());
  std::vector<uint8_t> out(replies_.begin(), replies_.begin() + static_cast<long>(n));
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<long>(n));
  return out;
}

bool PrinterModel::hasReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !replies_.empty();
}

}  // namespace tavik::sim
