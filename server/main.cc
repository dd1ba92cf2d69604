// TavikServer: the module's main program. Builds the process-wide objects
// (log, settings store, printer port, services), hands them to the
// supervisor and returns its exit status. Objects are destroyed in reverse
// order: services, printer port, settings store, and the log last.
#include "config/ConfigStore.h"
#include "server/Logger.h"
#include "server/Supervisor.h"

int main(int argc, char** argv) {
  tavik::Logger logger;  // removes the previous run's log files
  tavik::ConfigStore config;

  // ---- PRINTER PORT AND SERVICES ----------------------------------------
  // The printer port and the service objects are constructed here, in this
  // order: PrinterPort (opens the printer), USB bridge, spool, SDK, admin,
  // OCP; for example
  //   tavik::PrinterPort printer;
  //   tavik::PrinterPort* port = &printer;
  //   services.admin = &admin;  (and usb, spool, sdk, ocp likewise)
  //   supervisor.setPrinterClose([&printer] { printer.close(); });
  // Until then no service exists, the admin service is found not running,
  // and the program stops right after its banner.
  tavik::PrinterPort* port = nullptr;
  tavik::ServiceSlots services;
  tavik::Supervisor supervisor(logger, config, port, services);
  // ---- END OF PRINTER PORT AND SERVICES ---------------------------------

  return supervisor.run(argc, argv);
}
