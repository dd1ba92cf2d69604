// Diagnostics of the server framework. Every line goes through one sink whose
// default writes to the system log (syslog, default identity and facility);
// tests install their own sink to read the lines. Public face of framework/.
#pragma once

#include <syslog.h>

// Receives one formatted line with its syslog priority (LOG_EMERG ...
// LOG_DEBUG). May be called from any framework thread at once.
using SP_LogSink = void (*)(int priority, const char* line);

// Replaces the sink; nullptr restores the syslog sink. Returns the previous
// sink. Safe to call at any time from any thread.
SP_LogSink sp_setLogSink(SP_LogSink sink);

// Formats one line (printf rules) and hands it to the current sink.
void sp_syslog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
