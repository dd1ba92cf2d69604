// The discovery responder: answers PC tools' UDP queries on port 11119 with
// the printer, the module's address and the port of the service asked for.
// Runs on its own thread, started and joined by the admin service.
// Public face of net/ for the admin service and for tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "config/ConfigRecords.h"

namespace tavik {

class Logger;
class NetAdminService;
class PrinterPort;

inline constexpr uint16_t kLookupPort = 11119;
inline constexpr size_t kLookupDatagram = 512;

// What an answer is made of besides the query.
struct LookupFacts {
  int productId = 0;
  std::string printerId;  // "" or anything: "OFFLINE" is put in when needed
  std::string address;    // the module's eth0 address, "" when it has none
  ServiceConfig config{};
};

// Reduces a query datagram to 8-bit text (low byte of each unit, up to the
// first 0 unit or the end of the datagram).
std::string lookupQueryText(const uint8_t* data, size_t size);
// What a query gets.
enum class LookupOutcome {
  kIgnored,   // not a TVNP query, or its type cannot be read: not even logged
  kNoAnswer,  // unknown type or a disabled service: logged, not answered
  kAnswer,
};
// The answer text for a query text. `requester` gets the query's third word
// (cut to 31 characters).
LookupOutcome lookupAnswer(const std::string& query, const LookupFacts& facts, std::string* answer,
                           std::string* requester);
// IPv4 address of the first interface entry with this name, dotted, or ""
// (SIOCGIFCONF with a 512-byte buffer). False when the list cannot be read.
bool interfaceAddress(const char* name, std::string* address);

// The responder's loop: binds UDP `port`, answers until `run` is 0 (looked
// at every 50 ms). Logs and returns at once when the socket cannot be set
// up. `ready` (when given) is set to 1 once the socket is bound, or -1 when
// set-up failed.
void runLookup(PrinterPort& port, Logger& logger, const ServiceConfig& config,
               const std::atomic<int>& run, uint16_t udpPort = kLookupPort,
               std::atomic<int>* ready = nullptr);

// Thread entry point: the admin service object is the argument.
void thread_lookup(NetAdminService* service);

}  // namespace tavik
