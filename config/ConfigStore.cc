#include "config/ConfigStore.h"

#include "config/FlashFile.h"
#include "platform/Paths.h"

namespace tavik {

namespace {

// Reads one record under the lock. A missing file is created with the
// defaults (outside the lock: the write takes it again) and the write's
// result returned; the record then holds the defaults either way.
template <typename Record, typename WriteDefault>
int readRecord(std::mutex& lock, const char* modulePath, Record* out, WriteDefault writeDefault) {
  if (out == nullptr) return -1;
  flash::OpenResult found;
  size_t got = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    found = flash::readHead(platform::hostPath(modulePath), out, sizeof(Record), &got);
  }
  switch (found) {
    case flash::OpenResult::kOpened:
      return got == sizeof(Record) ? 0 : -1;
    case flash::OpenResult::kMissing:
      return writeDefault(out);
    case flash::OpenResult::kFailed:
      break;
  }
  // The file is there but cannot be read: leave it alone for a repair by
  // hand or a reset, and report the failure.
  return -1;
}

template <typename Record>
int writeRecord(std::mutex& lock, const char* modulePath, const Record& in) {
  std::lock_guard<std::mutex> guard(lock);
  return flash::replaceFile(platform::hostPath(modulePath), &in, sizeof(Record));
}

}  // namespace

ConfigStore::ConfigStore() : service_(defaultServiceConfig()), ocp_(defaultOcpConfig()) {}

int ConfigStore::readSystem(SystemConfig* out) {
  return readRecord(mutex_, kSystemFile, out, [this](SystemConfig* r) { return writeDefaultSystem(r); });
}

int ConfigStore::readService(ServiceConfig* out) {
  return readRecord(mutex_, kServiceFile, out, [this](ServiceConfig* r) { return writeDefaultService(r); });
}

int ConfigStore::readOcp(OcpConfig* out) {
  return readRecord(mutex_, kOcpFile, out, [this](OcpConfig* r) { return writeDefaultOcp(r); });
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
