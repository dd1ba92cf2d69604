#include "tools/cardcompose/CardScript.h"

#include "render/PageDraw.h"
#include "render/PrintPage.h"

#include <strings.h>

#include <map>
#include <sstream>
#include <vector>

namespace tavik {

namespace {

bool same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Looks a keyword up without regard to case; -1 when unknown.
int keyword(const std::string& word, std::initializer_list<std::pair<const char*, int>> table) {
  for (const auto& [name, value] : table) {
    if (same(word, name)) return value;
  }
  return -1;
}

int panelOf(const std::string& word) {
  return keyword(word, {{"COLOR", kPanelColor}, {"RGB", kPanelColor}, {"RESIN", kPanelResin},
                        {"BLACK", kPanelResin}, {"FLUORESCENT", kPanelFluorescent},
                        {"UV", kPanelFluorescent}, {"OVERLAY", kPanelOverlay}});
}

int alignOf(const std::string& word) {
  return keyword(word, {{"LEFT", kAlignLeft}, {"RIGHT", kAlignRight}, {"CENTER", kAlignCenter}});
}

// Reads whitespace-separated words and integers from one line.
class Words {
 public:
  explicit Words(const std::string& line) : in_(line) {}
  bool word(std::string* out) { return static_cast<bool>(in_ >> *out); }
  bool number(int* out) {
    std::string w;
    if (!word(&w)) return false;
    char* end = nullptr;
    const long v = std::strtol(w.c_str(), &end, 10);
    if (end == w.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int>(v);
    return true;
  }
  // The rest of the line, leading blanks dropped.
  std::string rest() {
    std::string r;
    std::getline(in_, r);
    const size_t start = r.find_first_not_of(" \t");
    return start == std::string::npos ? "" : r.substr(start);
  }

 private:
  std::istringstream in_;
};

struct Box {
  int sx, sy, ex, ey, r, g, b;
};

bool readBox(Words& w, Box* box) {
  return w.number(&box->sx) && w.number(&box->sy) && w.number(&box->ex) && w.number(&box->ey) &&
         w.number(&box->r) && w.number(&box->g) && w.number(&box->b);
}

// Thickness, or FILLED / F.
bool readStroke(Words& w, int* thickness, int* filled) {
  std::string word;
  if (!w.word(&word)) return false;
  if (same(word, "FILLED") || same(word, "F")) {
    *thickness = 1;
    *filled = 1;
    return true;
  }
  *filled = 0;
  Words again(word);
  return again.number(thickness);
}

std::string setting(PrintPage* page, Words& w) {
  std::string name, value;
  if (!w.word(&name) || !w.word(&value)) return "set needs a name and a value";
  int v = -1;
  if (same(name, "DITHER")) {
    v = keyword(value, {{"THRESHOLD", 0}, {"RANDOM", 1}, {"DIFFUSION", 2}, {"HALFTONE", 3}});
    if (v >= 0) page->oemdev.dwDocDither = static_cast<uint32_t>(v);
  } else if (same(name, "MODE")) {
    v = keyword(value, {{"STANDARD", 0}, {"PARTIAL", 2}});
    if (v >= 0) page->oemdev.dwDocQuality = static_cast<uint32_t>(v);
  } else if (same(name, "OVERLAY")) {
    v = keyword(value, {{"YES", 1}, {"NO", 0}});
    if (v >= 0) page->oemdev.dwDocLamiOverlay = static_cast<uint32_t>(v);
  } else if (same(name, "SIDE")) {
    v = keyword(value, {{"FRONT", kSideFront}, {"BACK", kSideBack}});
    if (v >= 0) page->prop.side = v;
  } else if (same(name, "LAMINATION")) {
    v = keyword(value, {{"NO", 0}, {"TOP", 1}, {"BOTTOM", 2}, {"BOTH", 3}});
    if (v >= 0) page->oemdev.dwDocLamiSide = static_cast<uint32_t>(v);
  } else {
    return "unknown setting " + name;
  }
  return v < 0 ? "bad value " + value + " for " + name : "";
}

std::string runLine(PrintPage* page, const std::string& command, Words& w) {
  Box box{};
  int panel = -1;
  std::string word;
  auto needPanel = [&]() {
    if (!w.word(&word) || (panel = panelOf(word)) < 0) return false;
    return true;
  };
  if (same(command, "page")) {
    std::string orientation;
    int ribbon = 0;
    int type = 1;
    if (!w.word(&orientation)) return "page needs PORTRAIT or LANDSCAPE";
    const int o = keyword(orientation, {{"PORTRAIT", 1}, {"LANDSCAPE", 2}});
    if (o < 0) return "page needs PORTRAIT or LANDSCAPE";
    w.number(&ribbon);
    w.number(&type);
    return PageInit(page, o, ribbon, type) == 1 ? "" : "not enough memory";
  }
  if (!PageIsReady(page) && PageInit(page, kOrientationLandscape, 0, 1) != 1) {
    return "not enough memory";
  }
  if (same(command, "set")) return setting(page, w);
  int ok = 0;
  if (same(command, "line")) {
    int thickness = 0;
    if (!needPanel() || !readBox(w, &box) || !w.number(&thickness)) return "usage: line PANEL sx sy ex ey r g b thickness";
    ok = PageDrawLine(page, panel, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b, thickness);
  } else if (same(command, "rectangle") || same(command, "circle")) {
    int thickness = 0, filled = 0;
    if (!needPanel() || !readBox(w, &box) || !readStroke(w, &thickness, &filled)) {
      return "usage: " + command + " PANEL sx sy ex ey r g b thickness|FILLED";
    }
    ok = same(command, "circle")
             ? PageDrawCircle(page, panel, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b,
                              thickness, filled)
             : PageDrawRectangle(page, panel, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b,
                                 thickness, filled);
  } else if (same(command, "image")) {
    std::string scale;
    if (!readBox(w, &box) || !w.word(&scale)) return "usage: image sx sy ex ey r g b SCALE path";
    const int s = keyword(scale, {{"BEST", 0}, {"WIDTH", 1}, {"HEIGHT", 2}, {"FULL", 3}});
    const std::string path = w.rest();
    if (s < 0 || path.empty()) return "usage: image sx sy ex ey r g b BEST|WIDTH|HEIGHT|FULL path";
    ok = PageDrawImage(page, kPanelColor, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b, s,
                       path);
  } else if (same(command, "text")) {
    std::string font, align, encoding;
    int size = 0;
    if (!needPanel() || !readBox(w, &box) || !w.word(&font) || !w.word(&align) ||
        alignOf(align) < 0 || !w.number(&size) || !w.word(&encoding)) {
      return "usage: text PANEL sx sy ex ey r g b font LEFT|RIGHT|CENTER size encoding text";
    }
    ok = PageDrawText(page, panel, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b, font,
                      alignOf(align), size, encoding, w.rest());
  } else if (same(command, "barcode")) {
    std::string name, align;
    int size = 0, opt1 = -1, opt2 = 0;
    if (!needPanel() || !readBox(w, &box) || !w.word(&name) || !w.word(&align) ||
        alignOf(align) < 0 || !w.number(&size) || !w.number(&opt1) || !w.number(&opt2)) {
      return "usage: barcode PANEL sx sy ex ey r g b NAME LEFT|RIGHT|CENTER size opt1 opt2 text";
    }
    ok = PageDrawBarcode(page, panel, box.sx, box.sy, box.ex, box.ey, box.r, box.g, box.b, name,
                         alignOf(align), size, w.rest(), opt1, opt2);
  } else {
    return "unknown command " + command;
  }
  return ok == 1 ? "" : "Error on drawing an object";
}

}  // namespace

std::string runCardScript(PrintPage* page, const std::string& script) {
  std::istringstream in(script);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Words w(line);
    std::string command;
    if (!w.word(&command) || command[0] == '#') continue;
    const std::string error = runLine(page, command, w);
    if (!error.empty()) return "line " + std::to_string(number) + ": " + error;
  }
  if (!PageIsReady(page)) return "the description draws nothing";
  return "";
}

std::string sampleCardScript(const std::string& photo, const std::string& font) {
  std::ostringstream s;
  s << "page LANDSCAPE 0 1\n"
    << "set DITHER DIFFUSION\n"
    << "rectangle COLOR 0 0 1011 110 20 60 140 FILLED\n"
    << "text COLOR 40 20 980 90 255 255 255 " << font << " LEFT 14 UTF-8 TAVIK CARD SERVICES\n"
    << "image 40 150 300 500 230 230 230 BEST " << photo << "\n"
    << "text RESIN 340 160 980 240 0 0 0 " << font << " LEFT 16 UTF-8 Jane Q. Example\n"
    << "text COLOR 340 250 980 310 90 90 90 " << font << " LEFT 9 UTF-8 Member since 2024\n"
    // "Shalom, world" in Hebrew: drawn right to left, ending at the right edge.
    << "text RESIN 340 320 980 390 0 0 0 " << font
    << " RIGHT 11 UTF-8 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D\n"
    << "barcode RESIN 340 420 700 600 0 0 0 CODE128 LEFT 6 -1 0 TAVIK-000042\n"
    << "barcode RESIN 760 400 980 610 0 0 0 QRCODE RIGHT 10 -1 0 https://example.com/card/42\n"
    << "circle FLUORESCENT 60 520 160 620 0 0 0 6\n";
  return s.str();
}

}  // namespace tavik
