// TavikServer: the module's main program. Builds the process-wide objects
// (log, settings store, printer port, services), hands them to the
// supervisor and returns its exit status. Objects are destroyed in reverse
// order: services, printer port, settings store, and the log last.
#include "config/ConfigStore.h"
#ifdef TAVIK_HAVE_NET_SERVICES
#include "net/NetAdminService.h"
#include "net/NetSDKService.h"
#include "net/NetSpoolService.h"
#include "printer/PrinterPort.h"
#endif
#include "server/Logger.h"
#include "server/Supervisor.h"

int main(int argc, char** argv) {
  tavik::Logger logger;  // removes the previous run's log files
  tavik::ConfigStore config;

  // ---- PRINTER PORT AND SERVICES ----------------------------------------
  // The printer port and the service objects are constructed here, in this
  // order: PrinterPort (opens the printer), USB bridge, spool, SDK, admin,
  // OCP. Locals are destroyed in reverse order, so the services go before
  // the port they borrow.
#ifdef TAVIK_HAVE_NET_SERVICES
  tavik::PrinterPort printer;
  tavik::NetSpoolService spool;
  tavik::NetSDKService sdk;
  tavik::NetAdminService admin;
  tavik::PrinterPort* port = &printer;
  tavik::ServiceSlots services;
  services.spool = &spool;
  services.sdk = &sdk;
  services.admin = &admin;
  tavik::Supervisor supervisor(logger, config, port, services);
  supervisor.setPrinterClose([&printer] { printer.close(); });
#else
  // Built without the printer link and the network services: no service
  // exists, the admin service is found not running, and the program stops
  // right after its banner.
  tavik::PrinterPort* port = nullptr;
  tavik::ServiceSlots services;
  tavik::Supervisor supervisor(logger, config, port, services);
#endif
  // ---- END OF PRINTER PORT AND SERVICES ---------------------------------

  return supervisor.run(argc, argv);
}
