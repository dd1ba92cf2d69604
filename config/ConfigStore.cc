#include "config/ConfigStore.h"

#include "config/FlashFile.h"
#include "platform/Paths.h"

namespace tavik {

namespace {

// Reads one record under the lock. A missing file is created with the
// defaults, still under the lock, so that a set landing in between cannot
// be overwritten by them; the write's result is returned and the record
// holds the defaults either way.
template <typename Record>
int readRecord(std::mutex& lock, const char* modulePath, Record* out, Record (*defaults)()) {
  if (out == nullptr) return -1;
  const std::string path = platform::hostPath(modulePath);
  std::lock_guard<std::mutex> guard(lock);
  size_t got = 0;
  switch (flash::readHead(path, out, sizeof(Record), &got)) {
    case flash::OpenResult::kOpened:
      return got == sizeof(Record) ? 0 : -1;
    case flash::OpenResult::kMissing:
      *out = defaults();
      return flash::replaceFile(path, out, sizeof(Record));
    case flash::OpenResult::kFailed:
      break;
  }
  // The file is there but cannot be read: leave it alone for a repair by
  // hand or a reset, and report the failure.
  return -1;
}

template <typename Record>
int writeRecord(std::mutex& lock, const char* modulePath, const Record& in) {
  const std::string path = platform::hostPath(modulePath);
  std::lock_guard<std::mutex> guard(lock);
  return flash::replaceFile(path, &in, sizeof(Record));
}

}  // namespace

ConfigStore::ConfigStore() : service_(defaultServiceConfig()), ocp_(defaultOcpConfig()) {}

int ConfigStore::readSystem(SystemConfig* out) {
  return readRecord(mutex_, kSystemFile, out, &defaultSystemConfig);
}

int ConfigStore::readService(ServiceConfig* out) {
  return readRecord(mutex_, kServiceFile, out, &defaultServiceConfig);
}

int ConfigStore::readOcp(OcpConfig* out) {
  return readRecord(mutex_, kOcpFile, out, &defaultOcpConfig);
}

int ConfigStore::writeSystem(const SystemConfig& in) { return writeRecord(mutex_, kSystemFile, in); }
int ConfigStore::writeService(const ServiceConfig& in) { return writeRecord(mutex_, kServiceFile, in); }
int ConfigStore::writeOcp(const OcpConfig& in) { return writeRecord(mutex_, kOcpFile, in); }

int ConfigStore::writeDefaultSystem(SystemConfig* out) {
  *out = defaultSystemConfig();
  return writeSystem(*out);
}

int ConfigStore::writeDefaultService(ServiceConfig* out) {
  *out = defaultServiceConfig();
  return writeService(*out);
}

int ConfigStore::writeDefaultOcp(OcpConfig* out) {
  *out = defaultOcpConfig();
  return writeOcp(*out);
}

int ConfigStore::load() {
  readService(&service_);
  return readOcp(&ocp_);
}

}  // namespace tavik
