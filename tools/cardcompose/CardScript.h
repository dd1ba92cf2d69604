// The card description that cardcompose reads: one drawing command a line,
// in the words of the OCP shell's commands. Internal to the tool.
#pragma once

#include <string>

namespace tavik {

struct PrintPage;

// Runs the description on `page` (a "page" line, or a first drawing
// command, initialises it). Returns "" on success, else the message with
// the line number.
std::string runCardScript(PrintPage* page, const std::string& script);

// The built-in sample: a photo, a name, a right-to-left line, a QR code
// and a Code 128 on a YMCKO ribbon. `photo` and `font` are file paths.
std::string sampleCardScript(const std::string& photo, const std::string& font);

}  // namespace tavik
