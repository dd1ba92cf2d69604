// The print image of a busy card, made again and again: milliseconds per
// card, the resident memory PageMakePrn needs beyond the page, and (under
// callgrind, repeatable on a loaded machine) instructions per card. The
// baseline in the same run is one memcpy pass over all panel buffers.
//
//   render_bench                    Google Benchmark timings, then memory
//   render_bench --instructions [N] re-runs itself under callgrind for N cards
//
// Goals for the module (a slow ARM board with little memory): under 50
// million instructions per card, no more than 2 MiB beyond the page.
#include "render/PageDraw.h"
#include "render/PrintPage.h"
#include "render/PrnImage.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using tavik::PrintPage;
using tavik::PrintPagePtr;

const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A YMCKO card as people print them: a colour band, a photo, a name and
// lines of text, a Code 128 and a QR code, DIFFUSION dither, landscape.
PrintPagePtr busyCard() {
  PrintPagePtr page(tavik::PageCreate());
  if (!page || tavik::PageInit(page.get(), tavik::kOrientationLandscape, 0, 1) != 1) return nullptr;
  page->oemdev.dwDocDither = tavik::kDitherDiffusion;
  cv::Mat& colour = page->cvimg.pColor;
  cv::rectangle(colour, cv::Point(0, 0), cv::Point(1011, 110), cv::Scalar(140, 60, 20),
                cv::FILLED);
  cv::Mat photo(400, 300, CV_8UC3);
  cv::randu(photo, 0, 255);
  cv::GaussianBlur(photo, photo, cv::Size(9, 9), 3);
  photo.copyTo(colour(cv::Rect(40, 150, 300, 400)));
  tavik::PageDrawText(page.get(), tavik::kPanelColor, 40, 20, 980, 90, 255, 255, 255, kFont,
                      tavik::kAlignLeft, 14, "UTF-8", "TAVIK CARD SERVICES");
  tavik::PageDrawText(page.get(), tavik::kPanelResin, 340, 160, 980, 240, 0, 0, 0, kFont,
                      tavik::kAlignLeft, 16, "UTF-8", "Jane Q. Example");
  tavik::PageDrawText(page.get(), tavik::kPanelResin, 340, 260, 980, 320, 0, 0, 0, kFont,
                      tavik::kAlignLeft, 10, "UTF-8", "Member since 2024 - ID 0042");
  tavik::PageDrawBarcode(page.get(), tavik::kPanelResin, 340, 420, 700, 600, 0, 0, 0, "CODE128",
                         tavik::kAlignLeft, 6, "TAVIK-000042", -1, 0);
  tavik::PageDrawBarcode(page.get(), tavik::kPanelResin, 760, 400, 980, 610, 0, 0, 0, "QRCODE",
                         tavik::kAlignRight, 10, "https://example.com/card/42", -1, 0);
  return page;
}

// Puts the template's panels back into `page` (the pipeline works in place).
void restore(PrintPage* page, const PrintPage& card) {
  tavik::PageInit(page, card.prop.orientation, card.prop.ribbon, card.prop.ribbon_type);
  page->oemdev = card.oemdev;
  card.cvimg.pColor.copyTo(page->cvimg.pColor);
  card.cvimg.pResin.copyTo(page->cvimg.pResin);
  card.cvimg.pFluorescent.copyTo(page->cvimg.pFluorescent);
  card.cvimg.pOverlay.copyTo(page->cvimg.pOverlay);
}

size_t panelBytes(const PrintPage& p) {
  return p.cvimg.pColor.total() * 3 + p.cvimg.pResin.total() * 3;
}

void BM_MakePrn(benchmark::State& state) {
  PrintPagePtr card = busyCard();
  PrintPagePtr page(tavik::PageCreate());
  for (auto _ : state) {
    state.PauseTiming();
    restore(page.get(), *card);
    state.ResumeTiming();
    if (tavik::PageMakePrn(page.get()) != 1) state.SkipWithError("PageMakePrn failed");
  }
  std::vector<uint8_t> prn;
  tavik::PagePrnBytes(page.get(), &prn);
  state.counters["prn_bytes"] = static_cast<double>(prn.size());
}
BENCHMARK(BM_MakePrn)->Unit(benchmark::kMillisecond);

// Baseline: one pass of memcpy over the four panel buffers.
void BM_MemcpyPanels(benchmark::State& state) {
  PrintPagePtr card = busyCard();
  std::vector<uint8_t> to(panelBytes(*card));
  for (auto _ : state) {
    uint8_t* out = to.data();
    for (const cv::Mat* m : {&card->cvimg.pColor, &card->cvimg.pResin,
                             &card->cvimg.pFluorescent, &card->cvimg.pOverlay}) {
      const size_t n = m->total() * m->elemSize();
      std::memcpy(out, m->data, n);
      out += n;
    }
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyPanels)->Unit(benchmark::kMillisecond);

long statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t len = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, len, field) == 0) return std::atol(line.c_str() + len + 1);
  }
  return -1;
}

// Peak resident memory during PageMakePrn beyond what the page already
// held (the kernel's high-water mark, reset just before).
void reportMemory() {
  PrintPagePtr card = busyCard();
  PrintPagePtr page(tavik::PageCreate());
  restore(page.get(), *card);
  malloc_trim(0);
  const long before = statusKb("VmRSS:");
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
  }
  const int ok = tavik::PageMakePrn(page.get());
  const long peak = statusKb("VmHWM:");
  std::printf("\nPageMakePrn %s: peak extra resident memory %ld KiB (goal: at most 2048 KiB),"
              " overflow used %zu bytes\n",
              ok == 1 ? "ok" : "FAILED", peak - before, page->prn.overflowUsed);
}

// Runs `cards` cards with callgrind collecting only inside the measured
// call; the caller reads the totals.
int inner(const std::string& what, int cards) {
  PrintPagePtr card = busyCard();
  PrintPagePtr page(tavik::PageCreate());
  std::vector<uint8_t> to(panelBytes(*card));
  for (int i = 0; i < cards; ++i) {
    restore(page.get(), *card);
    if (what == "memcpy") {
      CALLGRIND_START_INSTRUMENTATION;
      uint8_t* out = to.data();
      for (const cv::Mat* m : {&page->cvimg.pColor, &page->cvimg.pResin,
                               &page->cvimg.pFluorescent, &page->cvimg.pOverlay}) {
        const size_t n = m->total() * m->elemSize();
        std::memcpy(out, m->data, n);
        out += n;
      }
      CALLGRIND_STOP_INSTRUMENTATION;
    } else {
      CALLGRIND_START_INSTRUMENTATION;
      const int ok = tavik::PageMakePrn(page.get());
      CALLGRIND_STOP_INSTRUMENTATION;
      if (ok != 1) return 1;
    }
  }
  return 0;
}

// Re-runs this program under callgrind and returns instructions per card.
double instructionsPerCard(const char* self, const std::string& what, int cards) {
  const std::string out = "/tmp/render_bench.callgrind." + std::to_string(getpid());
  const std::string command = "valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=" +
                              out + " " + self + " --callgrind-inner " + what + " " +
                              std::to_string(cards) + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char line[512];
  double collected = -1;
  while (std::fgets(line, sizeof line, p) != nullptr) {
    const char* at = std::strstr(line, "Collected :");
    if (at != nullptr) collected = std::atof(at + std::strlen("Collected :"));
  }
  const int status = pclose(p);
  std::remove(out.c_str());
  if (status != 0 || collected < 0) return -1;
  return collected / cards;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--callgrind-inner") == 0) {
    return inner(argv[2], std::atoi(argv[3]));
  }
  if (argc >= 2 && std::strcmp(argv[1], "--instructions") == 0) {
    const int cards = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 5;
    const double card = instructionsPerCard(argv[0], "card", cards);
    const double copy = instructionsPerCard(argv[0], "memcpy", cards);
    if (card < 0 || copy < 0) {
      std::fprintf(stderr, "render_bench: valgrind --tool=callgrind did not run\n");
      return 1;
    }
    std::printf("instructions per card: %.1f million (goal: under 50 million)\n", card / 1e6);
    std::printf("baseline, one memcpy of the panels: %.1f million (ratio %.1f)\n", copy / 1e6,
                card / copy);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  reportMemory();
  return 0;
}
