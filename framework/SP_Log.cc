#include "framework/SP_Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

void syslogSink(int priority, const char* line) { ::syslog(priority, "%s", line); }

std::atomic<SP_LogSink> gSink{&syslogSink};

}  // namespace

SP_LogSink sp_setLogSink(SP_LogSink sink) {
  return gSink.exchange(sink != nullptr ? sink : &syslogSink);
}

void sp_syslog(int priority, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  gSink.load()(priority, line);
}
