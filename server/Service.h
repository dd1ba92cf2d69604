// What the entry point sees of each service it runs (spool, command, admin,
// OCP, USB bridge): start with the process-wide objects, ask whether it is
// still running, stop. Public face of server/ for service writers.
#pragma once

namespace tavik {

class ConfigStore;
class Logger;
class PrinterPort;

class Service {
 public:
  virtual ~Service() = default;

  // Starts the service with the objects the entry point owns (borrowed for
  // the life of the service). Returns 0, or a non-zero result code; the
  // supervisor does not look at it and finds a failed start by isRunning().
  virtual int start(PrinterPort& port, Logger& logger, ConfigStore& config) = 0;

  // Whether the service's server is still running. Read by the supervision
  // loop every 100 ms without a lock.
  virtual bool isRunning() const = 0;

  // Shuts a running server down and releases it; does nothing for a service
  // that never started or already stopped.
  virtual void stop() = 0;
};

}  // namespace tavik
