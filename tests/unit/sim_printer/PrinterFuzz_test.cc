// Garbage never crashes the virtual printer: random frames, requests and
// print data from a fixed seed, straight into the model.
#include <gtest/gtest.h>

#include <random>

#include "sim/printer/PrinterModel.h"
#include "sim/printer/PrnDecoder.h"
#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

TEST(PrinterFuzz, RandomFramesAndDataLeaveThePrinterAnswering) {
  sim::PrinterConfig config;
  config.timeScale = 0.0001;
  sim::PrinterModel model(config);
  std::mt19937 rng(20261211);
  const uint8_t classes[] = {0x00, 0x02, 0x40, 0x50, 0x43};
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> f(rng() % 40);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (!f.empty()) f[0] = classes[rng() % 5];
    if (f.size() > 1 && rng() % 2) f[1] = static_cast<uint8_t>(rng() % 0x80);
    switch (rng() % 3) {
      case 0: model.commandWrite(f.data(), f.size()); break;
      case 1: model.commandRead(f.data(), f.size()); break;
      default: model.printData(f.data(), f.size()); break;
    }
  }
  EXPECT_EQ(model.status().size(), 12u);
  EXPECT_FALSE(model.stateJson().empty());
}

TEST(PrinterFuzz, DecoderSurvivesDamagedImages) {
  std::vector<uint8_t> samples(40 * 5);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
  const auto good = test::encodePrn(0x80, 40, 5, {{sim::kPanelC, samples}, {sim::kPanelK, samples}});
  std::mt19937 rng(99);
  int decoded = 0;
  for (int i = 0; i < 5000; ++i) {
    auto bad = good;
    for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) {
      bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 == 0) bad.resize(rng() % bad.size());
    sim::PrnImage image;
    std::string error;
    if (sim::decodePrnImage(bad.data(), bad.size(), &image, &error)) ++decoded;
  }
  EXPECT_LT(decoded, 5000);  // most damage is noticed
}

}  // namespace
}  // namespace tavik
