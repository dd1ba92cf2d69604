// The administrator's operations on the module's accounts and settings,
// as the PC tools reach them over the network command protocol and the USB
// bridge. Public face of config/ for the command handlers.
//
// Texts arrive as 16-bit units from the command packets (UTF-16LE, ended
// by a 0 unit); each unit is reduced to its low 8 bits. Every operation
// first checks its caller, then does its work, and returns 0 or the result
// code of its command. Changes to the records take effect at the next
// start of the program (network settings: at the next boot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ConfigRecords.h"
#include "config/ConfigStore.h"
#include "config/UserAccounts.h"
#include "printer/ResultCodes.h"

namespace tavik {

// A text of 16-bit units as it lies in a command packet, borrowed. It ends
// at the first unit whose low byte is 0 (the 8-bit text would end there
// too) or after `capacity` units, whichever comes first; nothing past
// `capacity` is read, and `units` need not be aligned. A null `units` is a
// missing argument.
struct WideText {
  const uint16_t* units = nullptr;
  size_t capacity = 0;

  bool present() const { return units != nullptr; }
  // The low bytes of the units; "" for a missing text.
  std::string narrow() const;
};

class AdminOps {
 public:
  // Borrows the store; does not own it.
  explicit AdminOps(ConfigStore& store) : store_(store), accounts_(store) {}
  AdminOps(const AdminOps&) = delete;
  AdminOps& operator=(const AdminOps&) = delete;

  // The administrator check: `name` is exactly "admin" and the password
  // verifies. 0, or kErrAuthentication (also for missing texts).
  ResultCode checkAdministrator(WideText name, WideText password);
  ResultCode checkAdministrator(const char* name, const char* password);

  // User names, each followed by a line feed, widened into `out` (at most
  // `outCapacity` units, the terminating 0 included). kErrListUser when
  // `out` is null, the capacity is 0 or the list cannot be read.
  ResultCode listUsers(WideText adminName, WideText adminPassword, uint16_t* out,
                       size_t outCapacity);
  // kErrAddUser for any refusal of the add (see UserAccounts::add).
  ResultCode addUser(WideText adminName, WideText adminPassword, WideText name,
                     WideText password);
  // kErrDeleteUser when the delete fails.
  ResultCode deleteUser(WideText adminName, WideText adminPassword, WideText name);
  // The requester is "admin" or the target itself and its own password
  // verifies (else kErrAuthentication); kErrPasswordUser when the change
  // fails.
  ResultCode changePassword(WideText name, WideText password, WideText target,
                            WideText newPassword);

  // The record operations: after the administrator check, kErrGet... /
  // kErrSet... when the file cannot be read or written (also for a null
  // record). The two service-port sets answer kFail, without writing,
  // when the new record would put two enabled services on one TCP port or
  // when the other record cannot be read.
  ResultCode getSystemConfig(WideText name, WideText password, SystemConfig* out);
  ResultCode setSystemConfig(WideText name, WideText password, const SystemConfig& in);
  ResultCode getServiceConfig(WideText name, WideText password, ServiceConfig* out);
  ResultCode setServiceConfig(WideText name, WideText password, const ServiceConfig& in);
  ResultCode getOcpConfig(WideText name, WideText password, OcpConfig* out);
  ResultCode setOcpConfig(WideText name, WideText password, const OcpConfig& in);

 private:
  ConfigStore& store_;
  UserAccounts accounts_;
};

}  // namespace tavik
