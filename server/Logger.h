// The program's log: time-stamped lines to the console or to rotating files
// /var/log/tavik.log.N (5000 lines a file, two files at most). Public face of
// server/; every service holds a reference to the one instance the entry
// point builds. Never reports errors to its callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace tavik {

class Logger {
 public:
  // Removes the previous run's files ("/bin/rm -f /var/log/tavik.log.*").
  Logger();
  // Waits 200 ms so that threads still finishing a line can do so.
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Lines below the threshold are dropped. Set once at start-up.
  void setThreshold(int level) { threshold_ = level; }
  int threshold() const { return threshold_; }
  // Console mode ("-c"): lines go to standard output, nothing under /var/log.
  void setConsoleMode() { console_ = 1; }
  bool consoleMode() const { return console_ != 0; }

  // Writes one line: "%08ld.%03ld - " + the formatted text + "\n".
  void log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Hex dump of a buffer, 16 bytes a row, under a "name(length)" header line.
  void dump(int level, const char* name, const void* data, int length);

  // Lines written to files since start (the rotation counter).
  int lineCount() const;

 private:
  void writeLine(long seconds, long millis, const char* text);

  mutable std::mutex mutex_;  // serialises all output
  int console_ = 0;
  int threshold_ = 0;
  int lines_ = 0;  // guarded by mutex_
};

}  // namespace tavik
