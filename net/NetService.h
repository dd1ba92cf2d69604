// What the spool, SDK and admin services share: the server set-up and
// shut-down, and the connection handler that feeds a CommandEngine.
// Internal to net/.
#pragma once

#include <memory>

#include "framework/SP_Handler.h"
#include "net/CommandEngine.h"

class SP_Server;

namespace tavik {

class ConfigStore;
class Logger;
class PrinterPort;

// The objects a service borrows from the entry point.
struct ServiceObjects {
  PrinterPort* port = nullptr;
  Logger* logger = nullptr;
  ConfigStore* config = nullptr;
};

struct ServerSettings {
  int port = 0;
  int timeoutSeconds = 0;  // below 1: the server's default stays
  int queueLimit = 128;
  bool tls = false;
};

// Creates the server on every local address with `factory` (which the
// server owns from then on, also on failure), applies the settings, runs
// it and waits up to 10 s until it listens. Returns 0 with the server, the
// run's negative result, or -1 when it did not come to listen (the server
// is then stopped and released).
int startServer(SP_HandlerFactory* factory, const ServerSettings& settings,
                std::unique_ptr<SP_Server>* out);
// Asks the loop to stop, waits until it has ended and releases the server.
// A loop that does not end within 10 s is left running and its server not
// freed: destroying it then would pull the object from under its thread.
void stopServer(std::unique_ptr<SP_Server>* server);
bool serverRunning(const std::unique_ptr<SP_Server>& server);
int serverTimeout(const std::unique_ptr<SP_Server>& server);

// One connection: installs the whole-chunk decoder, feeds every chunk to
// the engine and appends each reply to the output. `resetAfterReply` is the
// SDK and admin behaviour (many exchanges per connection); the spool port
// keeps its one reply and any later byte ends the connection.
class NetCommandHandler : public SP_Handler {
 public:
  NetCommandHandler(const ServiceObjects& objects, bool resetAfterReply);
  int start(SP_RequestContext* request, SP_HandlerOutput* output) override;
  int handle(SP_RequestContext* request, SP_HandlerOutput* output) override;
  void error(SP_HandlerOutput*) override {}
  void timeout(SP_HandlerOutput*) override {}
  void close() override {}

 private:
  void appendReply(SP_HandlerOutput* output);

  CommandEngine engine_;
  ServiceObjects objects_;
  bool resetAfterReply_;
};

}  // namespace tavik
