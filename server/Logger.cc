#include "server/Logger.h"

#include <sys/time.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/Paths.h"
#include "platform/Shell.h"

namespace tavik {
namespace {

constexpr const char* kBaseName = "/var/log/tavik.log";
constexpr int kLinesPerFile = 5000;

// printf-style formatting into a string of any length.
std::string formatText(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

std::string fileName(int index) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%d", kBaseName, index);
  return name;
}

bool printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

Logger::Logger() {
  char command[64];
  std::snprintf(command, sizeof command, "/bin/rm -f %s.*", kBaseName);
  platform::runCommand(command);  // fire and forget
}

Logger::~Logger() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

int Logger::lineCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void Logger::log(int level, const char* format, ...) {
  if (level < threshold_ || format == nullptr) return;
  // The time is read before the lock: under contention lines may land
  // slightly out of time order, but nobody waits for the clock.
  timeval now{};
  ::gettimeofday(&now, nullptr);
  va_list args;
  va_start(args, format);
  std::string text = formatText(format, args);
  va_end(args);
  writeLine(static_cast<long>(now.tv_sec), static_cast<long>(now.tv_usec / 1000), text.c_str());
}

void Logger::writeLine(long seconds, long millis, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (console_ != 0) {
    std::printf("%08ld.%03ld - %s\n", seconds, millis, text);
    std::fflush(stdout);
    return;
  }
  int n = lines_;
  FILE* file = std::fopen(platform::hostPath(fileName(n / kLinesPerFile)).c_str(), "a");
  // A line that cannot be stored is dropped and not counted, so each file
  // still holds exactly the lines the counter says, and a log directory that
  // is missing does not run the removal command on every line.
  if (file == nullptr) return;
  if (n % kLinesPerFile == 0 && n > 2 * kLinesPerFile - 1) {
    // Starting a new file: the one two generations back goes, so at most the
    // full previous file and the current one exist.
    char command[64];
    std::snprintf(command, sizeof command, "/bin/rm -f %s.%d", kBaseName, n / kLinesPerFile - 2);
    platform::runCommand(command);
  }
  std::fprintf(file, "%08ld.%03ld - %s\n", seconds, millis, text);
  std::fclose(file);
  lines_ = n + 1;
}

void Logger::dump(int level, const char* name, const void* data, int length) {
  if (level < threshold_ || data == nullptr || length <= 0) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  // The blank session and peer fields line a dump up under "[%08d][%15s]" lines.
  log(level, "[        ][               ] %s(%d)", name != nullptr ? name : "", length);
  for (int offset = 0; offset < length; offset += 16) {
    int count = length - offset < 16 ? length - offset : 16;
    // "%08X:" + 16 * " %02X" + " : " + 16 characters, and the terminator.
    char row[9 + 16 * 3 + 3 + 16 + 1];
    int at = std::snprintf(row, sizeof row, "%08X:", static_cast<unsigned>(offset));
    for (int i = 0; i < 16; ++i) {
      if (i < count) {
        at += std::snprintf(row + at, sizeof row - at, " %02X", bytes[offset + i]);
      } else {
        at += std::snprintf(row + at, sizeof row - at, "   ");
      }
    }
    at += std::snprintf(row + at, sizeof row - at, " : ");
    for (int i = 0; i < 16; ++i) {
      uint8_t c = i < count ? bytes[offset + i] : ' ';
      row[at++] = printable(c) ? static_cast<char>(c) : ' ';
    }
    row[at] = '\0';
    log(level, "[        ][               ] %s", row);
  }
}

}  // namespace tavik
