// tavikctl: drives a TavikServer module from a PC. Finds modules, reads the
// printer's status, opens the printer, moves cards, prints print images
// over the spool port and sends any TVCID command with typed arguments.
// Commands after the options run in order on one connection, so that
// "open cardin move 0 cardout close" is one card job.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/TvnpCommands.h"
#include "net/TvnpPacket.h"
#include "tools/client/Discovery.h"
#include "tools/client/StatusText.h"
#include "tools/client/TvnpClient.h"

namespace {

using tavik::client::Reply;
using tavik::client::TvnpConnection;
namespace tvnp = tavik::tvnp;
namespace tvcid = tavik::tvcid;

const char kUsage[] =
    "usage: tavikctl [options] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "options:\n"
    "  --host ADDR        module address (default $TAVIK_HOST or 127.0.0.1)\n"
    "  --port N           command port (default: as the module reports, else 11110)\n"
    "  --tls | --plain    TLS or plain TCP on the command port (default: as reported)\n"
    "  --admin            use the admin port 11111 (always TLS)\n"
    "  --spool-port N     spool port for print (default 9100)\n"
    "  --user U --password P   account for open when the module asks for one\n"
    "  --timeout MS       wait for answers this long (default 30000)\n"
    "  --json             one JSON object per command on standard output\n"
    "commands (all but discover and print share one connection, in order):\n"
    "  discover [TYPE] [--to ADDR]   find modules and their ports (TYPE 0 admin,\n"
    "                     1 SDK, 2 spool; all three by default; ADDR default\n"
    "                     255.255.255.255)\n"
    "  status             the printer's status words, in words\n"
    "  open [DEVICE]      take the printer (DEVICE defaults to the printer's ID)\n"
    "  close              give the printer back\n"
    "  cardin | cardout | cardoutback | rotate | contact | discontact |\n"
    "  sbsstart | sbsend | doprint | cleaning | beep | clearstatus\n"
    "  move POS | movefromin N | movefromout N | rotate180 DIR\n"
    "  print FILE         send a print image over the spool port, with progress\n"
    "  raw ID|NAME [ARG]...   any command; ARG is i:NUMBER, t:TEXT, x:HEXBYTES\n"
    "                     or h (the handle that open returned)\n";

struct Options {
  std::string host = getenv("TAVIK_HOST") ? getenv("TAVIK_HOST") : "127.0.0.1";
  int port = 11110;
  bool tls = false;
  // Neither --tls nor --plain nor --port: ask the module (discovery type 1)
  // for its command port and whether it speaks TLS there.
  bool autoPort = true;
  int spoolPort = 9100;
  std::string user, password;
  int timeoutMs = 30000;
  bool json = false;
};

std::string jsonEscape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string hex(const std::vector<uint8_t>& v) {
  std::string out;
  char buf[4];
  for (uint8_t b : v) {
    snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

bool parseHex(const std::string& s, std::vector<uint8_t>* out) {
  if (s.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    char* end = nullptr;
    std::string two = s.substr(i, 2);
    long v = strtol(two.c_str(), &end, 16);
    if (*end != '\0') return false;
    out->push_back(uint8_t(v));
  }
  return true;
}

bool parseInt(const std::string& s, long long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long v = strtoll(s.c_str(), &end, 0);
  if (*end != '\0') return false;
  *out = v;
  return true;
}

std::string flagsText(uint16_t flags) {
  struct {
    uint16_t bit;
    const char* name;
  } names[] = {{tvnp::kFlagArgument, "argument error"},   {tvnp::kFlagExecution, "execution error"},
               {tvnp::kFlagBadCommand, "bad command"},    {tvnp::kFlagHandle, "handle error"},
               {tvnp::kFlagAuth, "authentication error"}, {tvnp::kFlagBusy, "busy"}};
  std::string out;
  for (auto& n : names)
    if (flags & n.bit) out += out.empty() ? n.name : std::string(", ") + n.name;
  return out.empty() ? "ok" : out;
}

class Session {
 public:
  explicit Session(const Options& o) : o_(o) {}

  int ensureConnected() {
    if (conn_.isOpen()) return 0;
    if (o_.autoPort) {
      std::vector<tavik::client::DiscoveryAnswer> answers;
      if (tavik::client::discover(o_.host, tavik::client::kDiscoverSdk, 1000, &answers, nullptr,
                                  "tavikctl", 1) > 0) {
        o_.port = answers[0].port;
        o_.tls = answers[0].tls != 0;
      }
      o_.autoPort = false;
    }
    conn_.setReceiveTimeout(o_.timeoutMs);
    if (conn_.connect(o_.host, uint16_t(o_.port), o_.tls, o_.timeoutMs) < 0) {
      fprintf(stderr, "tavikctl: %s:%d: %s\n", o_.host.c_str(), o_.port, conn_.error().c_str());
      return -1;
    }
    return 0;
  }

  // Runs one request and prints the generic outcome. Returns 0 when the
  // module answered success.
  int run(const std::string& name, uint16_t id, const std::vector<std::vector<uint8_t>>& args,
          Reply* reply, bool printGeneric = true) {
    if (ensureConnected() < 0) return -1;
    if (conn_.request(id, args, reply) < 0) {
      fprintf(stderr, "tavikctl: %s: %s\n", name.c_str(), conn_.error().c_str());
      return -1;
    }
    if (printGeneric) report(name, *reply, "");
    return reply->ok() ? 0 : 1;
  }

  void report(const std::string& name, const Reply& r, const std::string& extraJson) {
    if (o_.json) {
      printf("{\"command\":\"%s\",\"id\":%u,\"flags\":%u,\"result\":%u,\"ok\":%s,\"args\":[",
             jsonEscape(name).c_str(), r.header.command, r.header.flags, r.result(),
             r.ok() ? "true" : "false");
      for (size_t i = 1; i < r.args.size(); ++i)
        printf("%s\"%s\"", i > 1 ? "," : "", hex(r.args[i]).c_str());
      printf("]%s}\n", extraJson.c_str());
    } else {
      printf("%s: %s (flags 0x%04X, result 0x%08X)\n", name.c_str(), flagsText(r.errorFlags()).c_str(),
             r.header.flags, r.result());
      for (size_t i = 1; i < r.args.size(); ++i) {
        std::string text;
        bool isText = r.text(i, &text) && r.args[i].size() == 2 * text.size() + 2 && !text.empty();
        printf("  arg %zu: %s%s%s\n", i, hex(r.args[i]).c_str(), isText ? "  \"" : "",
               isText ? (text + "\"").c_str() : "");
      }
    }
    fflush(stdout);
  }

  int status() {
    Reply r;
    int rc = run("status", tvcid::kGetStatus, {tvnp::encodeU32(0)}, &r, false);
    if (rc < 0) return rc;
    uint32_t a = 0, b = 0;
    if (r.ok() && r.args.size() > 1 && r.args[1].size() >= 8) {
      a = tvnp::loadU32(r.args[1].data());
      b = tvnp::loadU32(r.args[1].data() + 4);
    } else {
      report("status", r, "");
      return 1;
    }
    auto wa = tavik::client::describeStatusA(a);
    auto wb = tavik::client::describeStatusB(b);
    if (o_.json) {
      std::string extra = ",\"wordA\":" + std::to_string(a) + ",\"wordB\":" + std::to_string(b) + ",\"state\":[";
      for (size_t i = 0; i < wa.size(); ++i) extra += (i ? ",\"" : "\"") + jsonEscape(wa[i]) + "\"";
      extra += "],\"faults\":[";
      for (size_t i = 0; i < wb.size(); ++i) extra += (i ? ",\"" : "\"") + jsonEscape(wb[i]) + "\"";
      extra += "]";
      report("status", r, extra);
    } else {
      printf("status word A 0x%08X:%s\n", a, wa.empty() ? " idle" : "");
      for (auto& s : wa) printf("  %s\n", s.c_str());
      printf("status word B 0x%08X:%s\n", b, wb.empty() ? " no faults" : "");
      for (auto& s : wb) printf("  %s\n", s.c_str());
    }
    return 0;
  }

  int open(const std::string& device) {
    std::string name = device;
    if (name.empty()) {
      // The printer answers its identification to the 50 06 00 request.
      Reply id;
      int rc = run("identify", tvcid::kRawGetData, {{0x50, 0x06, 0x00}}, &id, false);
      if (rc != 0 || id.args.size() < 2) {
        fprintf(stderr, "tavikctl: cannot read the printer's ID; give it to open\n");
        return rc < 0 ? rc : 1;
      }
      name.assign(id.args[1].begin(), id.args[1].end());
      name = name.c_str();  // up to the first zero byte
    }
    std::vector<std::vector<uint8_t>> args = {tvnp::encodeText(name)};
    if (!o_.user.empty()) {
      args.push_back(tvnp::encodeText(o_.user));
      args.push_back(tvnp::encodeText(o_.password));
    }
    Reply r;
    int rc = run("open", tvcid::kOpenDevice, args, &r, false);
    if (rc < 0) return rc;
    uint32_t h = 0;
    if (r.ok() && r.u32(1, &h)) handle_ = h;
    report("open", r, r.ok() ? ",\"handle\":" + std::to_string(h) : "");
    return r.ok() ? 0 : 1;
  }

  std::vector<uint8_t> handleArg() const { return tvnp::encodeU32(handle_); }

  int device(const std::string& name, uint16_t id, const std::vector<long long>& ints) {
    std::vector<std::vector<uint8_t>> args = {handleArg()};
    for (long long v : ints) args.push_back(tvnp::encodeU32(uint32_t(v)));
    Reply r;
    return run(name, id, args, &r);
  }

  int raw(const std::string& name, uint16_t id, const std::vector<std::string>& specs) {
    std::vector<std::vector<uint8_t>> args;
    for (const auto& s : specs) {
      long long v = 0;
      std::vector<uint8_t> bytes;
      if (s == "h") {
        args.push_back(handleArg());
      } else if (s.rfind("i:", 0) == 0 && parseInt(s.substr(2), &v)) {
        args.push_back(tvnp::encodeU32(uint32_t(v)));
      } else if (s.rfind("t:", 0) == 0) {
        args.push_back(tvnp::encodeText(s.substr(2)));
      } else if (s.rfind("x:", 0) == 0 && parseHex(s.substr(2), &bytes)) {
        args.push_back(bytes);
      } else {
        fprintf(stderr, "tavikctl: bad argument '%s' (i:NUMBER, t:TEXT, x:HEX or h)\n", s.c_str());
        return 2;
      }
    }
    Reply r;
    return run(name, id, args, &r);
  }

 private:
  Options o_;
  TvnpConnection conn_;
  uint32_t handle_ = 0;
};

// Without a type, asks for all three services and lists each module once
// with the ports it reported.
int discoverCommand(const Options& o, int type, const std::string& to) {
  struct Module {
    tavik::client::DiscoveryAnswer first;
    std::string ports;       // "admin 11111 TLS, sdk 11110, spool 9100"
    std::string portsJson;   // {"admin":{"port":11111,"tls":1},...}
  };
  std::vector<Module> modules;
  const char* names[] = {"admin", "sdk", "spool"};
  int timeout = o.timeoutMs < 1500 ? o.timeoutMs : 1500;
  for (int t = 0; t < 3; ++t) {
    if (type >= 0 && t != type) continue;
    std::vector<tavik::client::DiscoveryAnswer> answers;
    std::string error;
    if (tavik::client::discover(to, t, timeout, &answers, &error) < 0) {
      fprintf(stderr, "tavikctl: discover: %s\n", error.c_str());
      return 1;
    }
    for (const auto& a : answers) {
      Module* m = nullptr;
      for (auto& k : modules)
        if (k.first.from == a.from) m = &k;
      if (m == nullptr) {
        modules.push_back({a, "", ""});
        m = &modules.back();
      }
      char text[64];
      snprintf(text, sizeof text, "%s%s %d%s", m->ports.empty() ? "" : ", ", names[t], a.port,
               a.tls ? " TLS" : "");
      m->ports += text;
      snprintf(text, sizeof text, "%s\"%s\":{\"port\":%d,\"tls\":%d}",
               m->portsJson.empty() ? "" : ",", names[t], a.port, a.tls);
      m->portsJson += text;
    }
  }
  for (const auto& m : modules) {
    const auto& a = m.first;
    if (o.json)
      printf("{\"command\":\"discover\",\"from\":\"%s\",\"protocol\":\"%s\",\"productId\":%d,"
             "\"printer\":\"%s\",\"address\":\"%s\",\"ports\":{%s}}\n",
             a.from.c_str(), jsonEscape(a.protocol).c_str(), a.productId,
             jsonEscape(a.printerId).c_str(), jsonEscape(a.address).c_str(), m.portsJson.c_str());
    else
      printf("%-15s  printer %s (product 0x%04X)  address %s  %s\n", a.from.c_str(),
             a.printerId.c_str(), a.productId, a.address.c_str(), m.ports.c_str());
  }
  if (modules.empty() && !o.json) printf("no module answered\n");
  return modules.empty() ? 1 : 0;
}

int printCommand(const Options& o, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    fprintf(stderr, "tavikctl: cannot read %s\n", file.c_str());
    return 1;
  }
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint32_t len = 0;
  if (data.size() < tvnp::kRawHeaderSize || !tvnp::rawHeaderValid(data.data(), 'C', 'P', &len)) {
    fprintf(stderr, "tavikctl: %s is not a print image (it must begin with a CP frame)\n",
            file.c_str());
    return 1;
  }
  TvnpConnection conn;
  conn.setReceiveTimeout(o.timeoutMs);
  if (conn.connect(o.host, uint16_t(o.spoolPort), false, o.timeoutMs) < 0) {
    fprintf(stderr, "tavikctl: %s:%d: %s\n", o.host.c_str(), o.spoolPort, conn.error().c_str());
    return 1;
  }
  auto progress = [&](size_t sent, size_t total) {
    if (!o.json) fprintf(stderr, "\rsent %zu of %zu bytes (%zu%%)", sent, total, sent * 100 / total);
  };
  if (conn.sendAll(data.data(), data.size(), progress) < 0) {
    fprintf(stderr, "\ntavikctl: print: %s\n", conn.error().c_str());
    return 1;
  }
  if (!o.json) fprintf(stderr, "\n");
  // The module closes the connection once it has handed every frame to the
  // printer; that is the only acknowledgement a print stream gets.
  conn.finishSending();
  bool closed = conn.waitClosed(o.timeoutMs);
  if (o.json)
    printf("{\"command\":\"print\",\"file\":\"%s\",\"bytes\":%zu,\"ok\":%s}\n",
           jsonEscape(file).c_str(), data.size(), closed ? "true" : "false");
  else
    printf("print: %s, %zu bytes %s\n", file.c_str(), data.size(),
           closed ? "taken by the module" : "sent, but the module did not finish in time");
  return closed ? 0 : 1;
}

struct DeviceCommand {
  const char* word;
  uint16_t id;
  int ints;
};

constexpr DeviceCommand kDeviceCommands[] = {
    {"cardin", tvcid::kCardIn, 0},          {"cardout", tvcid::kCardOut, 0},
    {"cardoutback", tvcid::kCardOutBack, 0}, {"rotate", tvcid::kRotate, 0},
    {"contact", tvcid::kIcContact, 0},      {"discontact", tvcid::kIcDiscontact, 0},
    {"sbsstart", tvcid::kSbsStart, 0},      {"sbsend", tvcid::kSbsEnd, 0},
    {"doprint", tvcid::kDoPrint, 0},        {"cleaning", tvcid::kDoCleaning, 0},
    {"beep", tvcid::kBeep, 1},              {"clearstatus", tvcid::kClearStatus, 0},
    {"move", tvcid::kMove, 1},              {"movefromin", tvcid::kMoveFromIn, 1},
    {"movefromout", tvcid::kMoveFromOut, 1}, {"rotate180", tvcid::kRotate180, 1},
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        fprintf(stderr, "tavikctl: %s needs a value\n%s", what, kUsage);
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--host") o.host = value("--host");
    else if (a == "--port") { o.port = atoi(value("--port").c_str()); o.autoPort = false; }
    else if (a == "--tls") { o.tls = true; o.autoPort = false; }
    else if (a == "--plain") { o.tls = false; o.autoPort = false; }
    else if (a == "--admin") { o.port = 11111; o.tls = true; o.autoPort = false; }
    else if (a == "--spool-port") o.spoolPort = atoi(value("--spool-port").c_str());
    else if (a == "--user") o.user = value("--user");
    else if (a == "--password") o.password = value("--password");
    else if (a == "--timeout") o.timeoutMs = atoi(value("--timeout").c_str());
    else if (a == "--json") o.json = true;
    else if (a == "-h" || a == "--help") { fputs(kUsage, stdout); return 0; }
    else words.push_back(a);
  }
  if (words.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }

  Session session(o);
  size_t i = 0;
  auto intArg = [&](long long* v) {
    return i < words.size() && parseInt(words[i], v) ? (++i, true) : false;
  };
  while (i < words.size()) {
    std::string cmd = words[i++];
    int rc = 0;
    if (cmd == "discover") {
      long long type = -1;
      intArg(&type);
      std::string to = "255.255.255.255";
      if (i + 1 < words.size() && words[i] == "--to") {
        to = words[i + 1];
        i += 2;
      }
      rc = discoverCommand(o, int(type), to);
    } else if (cmd == "status") {
      rc = session.status();
    } else if (cmd == "open") {
      std::string device;
      bool isCommand = false;
      if (i < words.size()) {
        for (const auto& d : kDeviceCommands) isCommand |= words[i] == d.word;
        isCommand |= words[i] == "close" || words[i] == "status" || words[i] == "raw" ||
                     words[i] == "print";
        if (!isCommand) device = words[i++];
      }
      rc = session.open(device);
    } else if (cmd == "close") {
      rc = session.device("close", tvcid::kCloseDevice, {});
    } else if (cmd == "print") {
      if (i >= words.size()) {
        fprintf(stderr, "tavikctl: print needs a FILE\n");
        return 2;
      }
      rc = printCommand(o, words[i++]);
    } else if (cmd == "raw") {
      if (i >= words.size()) {
        fprintf(stderr, "tavikctl: raw needs an identifier\n");
        return 2;
      }
      std::string idText = words[i++];
      long long num = 0;
      uint16_t id = 0;
      if (parseInt(idText, &num) && num >= 0 && num <= 0xFFFF) id = uint16_t(num);
      else if (!tvcid::commandByName(idText, &id)) {
        fprintf(stderr, "tavikctl: unknown command %s\n", idText.c_str());
        return 2;
      }
      std::vector<std::string> specs;
      while (i < words.size() && (words[i] == "h" || words[i].rfind("i:", 0) == 0 ||
                                  words[i].rfind("t:", 0) == 0 || words[i].rfind("x:", 0) == 0))
        specs.push_back(words[i++]);
      std::string name(tvcid::commandName(id));
      rc = session.raw(name.empty() ? idText : name, id, specs);
    } else {
      const DeviceCommand* dc = nullptr;
      for (const auto& d : kDeviceCommands)
        if (cmd == d.word) dc = &d;
      if (dc == nullptr) {
        fprintf(stderr, "tavikctl: unknown command %s\n%s", cmd.c_str(), kUsage);
        return 2;
      }
      std::vector<long long> ints;
      for (int k = 0; k < dc->ints; ++k) {
        long long v = 0;
        if (!intArg(&v)) {
          if (dc->id == tvcid::kBeep) break;  // the beep's value is not used
          fprintf(stderr, "tavikctl: %s needs a number\n", cmd.c_str());
          return 2;
        }
        ints.push_back(v);
      }
      if (dc->id == tvcid::kBeep && ints.empty()) ints.push_back(0);
      rc = session.device(cmd, dc->id, ints);
    }
    if (rc != 0) return rc < 0 ? 1 : rc;
  }
  return 0;
}
