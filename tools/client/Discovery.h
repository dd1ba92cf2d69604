// PC-side discovery: the UDP query to port 11119 and the modules' answers.
// Public face of tools/client.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavik::client {

inline constexpr uint16_t kDiscoveryPort = 11119;

// Query types: which of the module's services the answer describes.
enum DiscoveryType { kDiscoverAdmin = 0, kDiscoverSdk = 1, kDiscoverSpool = 2 };

struct DiscoveryAnswer {
  std::string protocol;   // "TVNP2.0"
  int productId = 0;      // 0 when no printer is attached
  std::string printerId;  // "OFFLINE" when no printer is attached
  std::string address;    // the module's own view of its eth0 address
  int port = 0;
  int tls = 0;
  int available = 0;
  std::string from;  // the address the answer came from
};

// The query datagram: "TVNP2.0 <type> <requester> 0" in UTF-16LE with its
// 0 unit.
std::vector<uint8_t> buildDiscoveryQuery(int type, const std::string& requester);
// Parses an answer datagram; false when it is not one. The printer ID may
// hold blanks: the first two and the last four fields are taken from the
// ends and the rest is the ID.
bool parseDiscoveryAnswer(const uint8_t* data, size_t size, DiscoveryAnswer* out);

// Sends one query to target (a broadcast or a unicast address) and collects
// the answers that arrive within timeoutMs (or until maxAnswers arrived, when
// positive). Returns the number of answers or -1 when the socket could not
// be set up (error in *error).
int discover(const std::string& target, int type, int timeoutMs, std::vector<DiscoveryAnswer>* out,
             std::string* error = nullptr, const std::string& requester = "tavikctl",
             int maxAnswers = 0);

}  // namespace tavik::client
