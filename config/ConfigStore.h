// The settings records in flash and their loaded copies. Public face of
// config/. One lock serialises every access to the record files and to the
// user file; the loaded copies are written once by load() before any
// service runs and read without the lock afterwards.
//
// File operations return 0 or -1 and hold the lock for their whole file
// access. A missing file is created with its defaults (the record holds
// them even when that write fails); a file
// shorter than its record reads as -1; a longer one is read up to the
// record's size; a file that exists but cannot be read reads as -1 and is
// left as it is. Every write replaces the file whole (new file, flush,
// rename), so a power cut leaves the old or the new record, never a part.
#pragma once

#include <mutex>
#include <string>

#include "config/ConfigRecords.h"

namespace tavik {

class ConfigStore {
 public:
  static constexpr const char* kSystemFile = "/flash/tavik_system";
  static constexpr const char* kServiceFile = "/flash/tavik_service";
  static constexpr const char* kOcpFile = "/flash/tavik_ocp";
  static constexpr const char* kUserFile = "/flash/tavik_user";

  ConfigStore();
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;

  int readSystem(SystemConfig* out);
  int readService(ServiceConfig* out);
  int readOcp(OcpConfig* out);
  int writeSystem(const SystemConfig& in);
  int writeService(const ServiceConfig& in);
  int writeOcp(const OcpConfig& in);
  int writeDefaultSystem(SystemConfig* out);
  int writeDefaultService(ServiceConfig* out);
  int writeDefaultOcp(OcpConfig* out);

  // Reads the service record, then the OCP record, into the loaded copies.
  // Returns the OCP read's result.
  int load();
  const ServiceConfig& service() const { return service_; }
  const OcpConfig& ocp() const { return ocp_; }

  // The lock every file access of the store and of the user accounts takes.
  std::mutex& fileLock() { return mutex_; }

 private:
  std::mutex mutex_;
  ServiceConfig service_;  // written once by load()
  OcpConfig ocp_;          // written once by load()
};

}  // namespace tavik
