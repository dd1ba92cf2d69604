// Writes what the virtual printer printed: per printed side one PNG per
// print panel, a composite preview of the card as a person sees it and a
// short text summary; also raw image files kept for inspection. Works on
// its own thread so that PNG encoding never holds up the printer's status
// answers. Internal to sim/printer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/printer/PrnDecoder.h"

namespace tavik::sim {

// Writes the PNG files and the summary of one printed side into `dir`:
// BASE.png (composite), BASE-NAME.png per panel (ink shown dark on white)
// and BASE.txt. Returns false when a file cannot be written.
bool writeCardFiles(const std::string& dir, const std::string& baseName, const PrnImage& image,
                    const std::string& summary);

// The composite preview, 8-bit blue-green-red, width x height x 3 bytes:
// white card, Y/M/C subtracted as colour, grey and K darkening; F and O
// (invisible in daylight) are left out.
std::vector<uint8_t> compositePreview(const PrnImage& image);

class CardWriter {
 public:
  // With `announce`, prints one line on stdout per printed side written.
  CardWriter(std::string dir, bool announce);
  ~CardWriter();  // writes what is queued, then ends the thread
  CardWriter(const CardWriter&) = delete;
  CardWriter& operator=(const CardWriter&) = delete;

  void submitCard(std::string baseName, std::shared_ptr<const PrnImage> image,
                  std::string summary);
  void submitRaw(std::string fileName, std::vector<uint8_t> bytes);
  // Cards written so far (whether or not the files could be written).
  size_t cardsDone();
  bool waitCards(size_t count, std::chrono::milliseconds limit);

 private:
  struct Job {
    std::string name;
    std::shared_ptr<const PrnImage> image;  // null for a raw file
    std::string summary;
    std::vector<uint8_t> bytes;
  };
  void run();

  std::string dir_;
  const bool announce_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Job> jobs_;   // guarded by mutex_
  size_t cardsDone_ = 0;   // guarded by mutex_
  bool stopping_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace tavik::sim
