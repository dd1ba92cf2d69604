#include "sim/printer/CardWriter.h"

#include <cstdio>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace tavik::sim {

namespace {

// Darkens a channel by an ink amount (0 none, 255 full).
uint8_t ink(uint8_t channel, uint8_t amount) {
  return static_cast<uint8_t>(channel * (255 - amount) / 255);
}

}  // namespace

std::vector<uint8_t> compositePreview(const PrnImage& image) {
  const size_t n = static_cast<size_t>(image.width) * image.height;
  std::vector<uint8_t> bgr(n * 3, 255);
  const PrnPanel* y = image.panel(kPanelY);
  const PrnPanel* m = image.panel(kPanelM);
  const PrnPanel* c = image.panel(kPanelC);
  const PrnPanel* grey = image.panel(kPanelGrey);
  const PrnPanel* k = image.panel(kPanelK);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* px = &bgr[i * 3];
    // Yellow ink takes blue, magenta takes green, cyan takes red.
    if (y) px[0] = ink(px[0], y->samples[i]);
    if (m) px[1] = ink(px[1], m->samples[i]);
    if (c) px[2] = ink(px[2], c->samples[i]);
    if (grey) {
      for (int ch = 0; ch < 3; ++ch) px[ch] = ink(px[ch], grey->samples[i]);
    }
    if (k && k->samples[i] >= 128) px[0] = px[1] = px[2] = 0;
  }
  return bgr;
}

bool writeCardFiles(const std::string& dir, const std::string& baseName, const PrnImage& image,
                    const std::string& summary) {
  bool ok = true;
  const int w = image.width;
  const int h = image.height;
  try {
    std::vector<uint8_t> bgr = compositePreview(image);
    cv::Mat preview(h, w, CV_8UC3, bgr.data());
    ok = cv::imwrite(dir + "/" + baseName + ".png", preview) && ok;
    for (const auto& panel : image.panels) {
      cv::Mat shown(h, w, CV_8UC1);
      for (size_t i = 0; i < panel.samples.size(); ++i) shown.data[i] = 255 - panel.samples[i];
      ok = cv::imwrite(dir + "/" + baseName + "-" + panel.name + ".png", shown) && ok;
    }
  } catch (const cv::Exception&) {
    ok = false;
  }
  std::ofstream text(dir + "/" + baseName + ".txt");
  text << summary;
  return ok && static_cast<bool>(text);
}

CardWriter::CardWriter(std::string dir, bool announce)
    : dir_(std::move(dir)), announce_(announce) {
  thread_ = std::thread([this] { run(); });
}

CardWriter::~CardWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void CardWriter::submitCard(std::string baseName, std::shared_ptr<const PrnImage> image,
                            std::string summary) {
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_.push_back(Job{std::move(baseName), std::move(image), std::move(summary), {}});
  wake_.notify_all();
}

void CardWriter::submitRaw(std::string fileName, std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_.push_back(Job{std::move(fileName), nullptr, {}, std::move(bytes)});
  wake_.notify_all();
}

size_t CardWriter::cardsDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  return cardsDone_;
}

bool CardWriter::waitCards(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_.wait_for(lock, limit, [&] { return cardsDone_ >= count; });
}

void CardWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (jobs_.empty() && !stopping_) wake_.wait(lock);
    if (jobs_.empty()) return;  // stopping and drained
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    if (job.image) {
      bool ok = writeCardFiles(dir_, job.name, *job.image, job.summary);
      if (announce_) {
        std::printf("%s %s/%s.png\n", ok ? "printed" : "could not write", dir_.c_str(),
                    job.name.c_str());
        std::fflush(stdout);
      }
    } else {
      std::ofstream out(dir_ + "/" + job.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(job.bytes.data()),
                static_cast<std::streamsize>(job.bytes.size()));
    }
    lock.lock();
    if (job.image) ++cardsDone_;
    done_.notify_all();
  }
}

}  // namespace tavik::sim
