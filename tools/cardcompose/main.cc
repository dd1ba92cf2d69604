// cardcompose: composes a card the way the OCP shell would, writes the
// print image (PRN) that the printer takes and a PNG preview of the card.
//
//   cardcompose [-d DESCRIPTION] [-o CARD.prn] [-p CARD.png]
//               [--font FONT.ttf] [--photo PHOTO]
//
// Without a description it draws a built-in sample card (YMCKO ribbon).
// The preview is read back from the print image by the virtual printer's
// decoder when the tree has it (what the printer will print); otherwise it
// shows the page's panels as drawn.
#include "render/PrintPage.h"
#include "render/PrnImage.h"
#include "tools/cardcompose/CardScript.h"

#ifdef TAVIK_HAVE_PRN_DECODER
#include "sim/printer/PrnDecoder.h"
#endif

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

void usage() {
  std::fprintf(stderr,
               "usage: cardcompose [-d DESCRIPTION] [-o CARD.prn] [-p CARD.png]\n"
               "                   [--font FONT.ttf] [--photo PHOTO]\n");
}

// A stand-in portrait: soft background, shoulders and a face.
bool writeSamplePhoto(const std::string& path) {
  cv::Mat photo(400, 300, CV_8UC3);
  for (int y = 0; y < photo.rows; ++y) {
    photo.row(y).setTo(cv::Scalar(200 - y / 4, 170 - y / 8, 120 + y / 5));
  }
  cv::ellipse(photo, cv::Point(150, 420), cv::Size(140, 120), 0, 0, 360, cv::Scalar(90, 60, 40),
              cv::FILLED);
  cv::ellipse(photo, cv::Point(150, 170), cv::Size(80, 100), 0, 0, 360, cv::Scalar(150, 180, 225),
              cv::FILLED);
  cv::ellipse(photo, cv::Point(150, 95), cv::Size(85, 45), 0, 180, 360, cv::Scalar(40, 50, 70),
              cv::FILLED);
  cv::circle(photo, cv::Point(120, 165), 8, cv::Scalar(60, 40, 30), cv::FILLED);
  cv::circle(photo, cv::Point(180, 165), 8, cv::Scalar(60, 40, 30), cv::FILLED);
  cv::ellipse(photo, cv::Point(150, 215), cv::Size(30, 14), 0, 0, 180, cv::Scalar(70, 70, 170), 4);
  return cv::imwrite(path, photo);
}

cv::Mat preview(const tavik::PrintPage& page) {
  cv::Mat out = page.cvimg.pColor.clone();
  for (int y = 0; y < out.rows; ++y) {
    for (int x = 0; x < out.cols; ++x) {
      cv::Vec3b& px = out.at<cv::Vec3b>(y, x);
      const uint8_t resin = page.cvimg.pResin.at<uint8_t>(y, x);
      const int uv = 255 - page.cvimg.pFluorescent.at<uint8_t>(y, x);
      for (int c = 0; c < 3; ++c) {
        int v = std::min<int>(px[c], resin);
        if (c == 1) v -= uv / 3;  // violet: less green
        px[c] = static_cast<uint8_t>(std::max(v, 0));
      }
    }
  }
  return out;
}

#ifdef TAVIK_HAVE_PRN_DECODER
// The card as printed: white, less the Y, M and C inks, darkened by grey and
// black. A landscape card is turned back the way it was drawn.
bool previewFromPrn(const std::vector<uint8_t>& prn, bool landscape, cv::Mat* out) {
  tavik::sim::PrnImage image;
  std::string error;
  if (!tavik::sim::decodePrnImage(prn.data(), prn.size(), &image, &error)) {
    std::fprintf(stderr, "cardcompose: the print image does not decode: %s\n", error.c_str());
    return false;
  }
  cv::Mat card(image.height, image.width, CV_8UC3, cv::Scalar(255, 255, 255));
  auto ink = [&](uint8_t id, int channel) {
    const tavik::sim::PrnPanel* p = image.panel(id);
    if (p == nullptr) return;
    for (int y = 0; y < card.rows; ++y) {
      for (int x = 0; x < card.cols; ++x) {
        const uint8_t v = image.sample(*p, x, y);
        cv::Vec3b& px = card.at<cv::Vec3b>(y, x);
        if (channel >= 0) {
          px[channel] = static_cast<uint8_t>(std::max(0, px[channel] - v));
        } else {
          for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>(px[c] * (255 - v) / 255);
        }
      }
    }
  };
  ink(tavik::sim::kPanelY, 0);
  ink(tavik::sim::kPanelM, 1);
  ink(tavik::sim::kPanelC, 2);
  ink(tavik::sim::kPanelGrey, -1);
  ink(tavik::sim::kPanelK, -1);
  if (landscape) cv::rotate(card, card, cv::ROTATE_90_COUNTERCLOCKWISE);
  *out = card;
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // A tool on the PC: its file names are this machine's, never a module
  // sysroot's.
  unsetenv("TAVIK_ROOT");
  std::string description, prnPath = "card.prn", pngPath = "card.png", font = kDefaultFont, photo;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "-d" && hasValue) description = argv[++i];
    else if (a == "-o" && hasValue) prnPath = argv[++i];
    else if (a == "-p" && hasValue) pngPath = argv[++i];
    else if (a == "--font" && hasValue) font = argv[++i];
    else if (a == "--photo" && hasValue) photo = argv[++i];
    else {
      usage();
      return 2;
    }
  }

  std::string script;
  std::string tempPhoto;
  if (!description.empty()) {
    std::ifstream in(description, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cardcompose: cannot read %s\n", description.c_str());
      return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    script = text.str();
  } else {
    if (photo.empty()) {
      tempPhoto = "/tmp/cardcompose-photo-" + std::to_string(getpid()) + ".bmp";
      if (!writeSamplePhoto(tempPhoto)) {
        std::fprintf(stderr, "cardcompose: cannot write %s\n", tempPhoto.c_str());
        return 1;
      }
      photo = tempPhoto;
    }
    script = tavik::sampleCardScript(photo, font);
  }

  tavik::PrintPagePtr page(tavik::PageCreate());
  if (!page) return 1;
  const std::string error = tavik::runCardScript(page.get(), script);
  if (!tempPhoto.empty()) std::remove(tempPhoto.c_str());
  if (!error.empty()) {
    std::fprintf(stderr, "cardcompose: %s\n", error.c_str());
    return 1;
  }
  cv::Mat picture = preview(*page);
  [[maybe_unused]] const bool landscape =
      page->prop.orientation == tavik::kOrientationLandscape;
  if (tavik::PageMakePrn(page.get()) != 1) {
    std::fprintf(stderr, "cardcompose: Error on making PRN image\n");
    return 1;
  }
  std::vector<uint8_t> prn;
  if (tavik::PagePrnBytes(page.get(), &prn) != 1) return 1;
  std::ofstream out(prnPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(prn.data()), static_cast<std::streamsize>(prn.size()));
  if (!out) {
    std::fprintf(stderr, "cardcompose: cannot write %s\n", prnPath.c_str());
    return 1;
  }
#ifdef TAVIK_HAVE_PRN_DECODER
  if (!previewFromPrn(prn, landscape, &picture)) return 1;
#endif
  if (!pngPath.empty() && !cv::imwrite(pngPath, picture)) {
    std::fprintf(stderr, "cardcompose: cannot write %s\n", pngPath.c_str());
    return 1;
  }
  std::printf("%s: %zu bytes, panels 0x%02X, %d x %d\n", prnPath.c_str(), prn.size(),
              prn[10] | (prn[11] << 8), prn[18] | (prn[19] << 8), prn[16] | (prn[17] << 8));
  return 0;
}
