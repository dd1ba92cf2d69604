#include "config/AdminOps.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace tavik {

namespace {

// A narrowed argument that keeps "missing" apart from "empty".
struct Narrow {
  explicit Narrow(const WideText& t) : present(t.present()), text(t.narrow()) {}
  const char* get() const { return present ? text.c_str() : nullptr; }
  bool present;
  std::string text;
};

// True when the record would put two enabled network services on one port.
bool serviceClashes(const ServiceConfig& s, const OcpConfig& o) {
  if (s.net_spool) {
    if (s.net_sdk && s.spool_port == s.sdk_port) return true;
    if (o.enabled && s.spool_port == o.port) return true;
  }
  return s.net_sdk && o.enabled && s.sdk_port == o.port;
}

bool ocpClashes(const OcpConfig& o, const ServiceConfig& s) {
  if (!o.enabled) return false;
  return (s.net_spool && o.port == s.spool_port) || (s.net_sdk && o.port == s.sdk_port);
}

}  // namespace

std::string WideText::narrow() const {
  std::string out;
  if (units == nullptr) return out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(units);
  for (size_t i = 0; i < capacity; ++i) {
    uint16_t unit;
    std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
    char c = static_cast<char>(unit & 0xFF);
    if (c == '\0') break;
    out.push_back(c);
  }
  return out;
}

ResultCode AdminOps::checkAdministrator(const char* name, const char* password) {
  return accounts_.isAdministrator(name, password) ? rc::kSuccess : rc::kErrAuthentication;
}

ResultCode AdminOps::checkAdministrator(WideText name, WideText password) {
  Narrow n(name), p(password);
  return checkAdministrator(n.get(), p.get());
}

ResultCode AdminOps::listUsers(WideText adminName, WideText adminPassword, uint16_t* out,
                               size_t outCapacity) {
  if (ResultCode r = checkAdministrator(adminName, adminPassword); r != rc::kSuccess) return r;
  if (out == nullptr || outCapacity < 1) return rc::kErrListUser;
  // Names are at most 20 bytes and there are at most 256: a larger buffer
  // would only hold zeros.
  size_t size = std::min<size_t>(outCapacity, 256 * 21 + 1);
  std::vector<char> names(size);
  if (accounts_.listNames(names.data(), static_cast<int>(size)) != 0) return rc::kErrListUser;
  size_t length = strnlen(names.data(), size);
  for (size_t i = 0; i <= length && i < outCapacity; ++i) {
    uint16_t unit = static_cast<unsigned char>(i < length ? names[i] : '\0');
    std::memcpy(reinterpret_cast<unsigned char*>(out) + i * sizeof unit, &unit, sizeof unit);
  }
  return rc::kSuccess;
}

ResultCode AdminOps::addUser(WideText adminName, WideText adminPassword, WideText name,
                             WideText password) {
  if (ResultCode r = checkAdministrator(adminName, adminPassword); r != rc::kSuccess) return r;
  Narrow n(name), p(password);
  return accounts_.add(n.get(), p.get()) == 0 ? rc::kSuccess : rc::kErrAddUser;
}

ResultCode AdminOps::deleteUser(WideText adminName, WideText adminPassword, WideText name) {
  if (ResultCode r = checkAdministrator(adminName, adminPassword); r != rc::kSuccess) return r;
  Narrow n(name);
  return accounts_.remove(n.get()) == 0 ? rc::kSuccess : rc::kErrDeleteUser;
}

ResultCode AdminOps::changePassword(WideText name, WideText password, WideText target,
                                    WideText newPassword) {
  Narrow n(name), p(password), t(target), np(newPassword);
  // Anyone may change their own password; only the administrator others'.
  if (!n.present || !t.present) return rc::kErrAuthentication;
  if (n.text != UserAccounts::kAdminName && n.text != t.text) return rc::kErrAuthentication;
  if (accounts_.verify(n.get(), p.get()) != 0) return rc::kErrAuthentication;
  return accounts_.changePassword(t.get(), np.get()) == 0 ? rc::kSuccess : rc::kErrPasswordUser;
}

ResultCode AdminOps::getSystemConfig(WideText name, WideText password, SystemConfig* out) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  if (out == nullptr || store_.readSystem(out) != 0) return rc::kErrGetSystemConfig;
  return rc::kSuccess;
}

ResultCode AdminOps::setSystemConfig(WideText name, WideText password, const SystemConfig& in) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  return store_.writeSystem(in) == 0 ? rc::kSuccess : rc::kErrSetSystemConfig;
}

ResultCode AdminOps::getServiceConfig(WideText name, WideText password, ServiceConfig* out) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  if (out == nullptr || store_.readService(out) != 0) return rc::kErrGetServiceConfig;
  return rc::kSuccess;
}

ResultCode AdminOps::setServiceConfig(WideText name, WideText password, const ServiceConfig& in) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  OcpConfig ocp{};
  if (store_.readOcp(&ocp) != 0 || serviceClashes(in, ocp)) return rc::kFail;
  return store_.writeService(in) == 0 ? rc::kSuccess : rc::kErrSetServiceConfig;
}

ResultCode AdminOps::getOcpConfig(WideText name, WideText password, OcpConfig* out) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  if (out == nullptr || store_.readOcp(out) != 0) return rc::kErrGetOcpConfig;
  return rc::kSuccess;
}

ResultCode AdminOps::setOcpConfig(WideText name, WideText password, const OcpConfig& in) {
  if (ResultCode r = checkAdministrator(name, password); r != rc::kSuccess) return r;
  ServiceConfig service{};
  if (store_.readService(&service) != 0 || ocpClashes(in, service)) return rc::kFail;
  return store_.writeOcp(in) == 0 ? rc::kSuccess : rc::kErrSetOcpConfig;
}

}  // namespace tavik
