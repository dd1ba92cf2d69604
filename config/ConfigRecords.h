// The three settings records of the module as they lie in flash: raw
// little-endian images with no header, version or checksum. Public face of
// config/; shared by TavikServer and ifsetup.
#pragma once

#include <cstdint>

namespace tavik {

// /flash/tavik_system, 16 bytes: the Ethernet settings applied at boot.
struct SystemConfig {
  int32_t dhcp;        // non-zero: address by DHCP
  uint8_t ip[4];       // static address, first dotted part first
  uint8_t netmask[4];
  uint8_t gateway[4];
};
static_assert(sizeof(SystemConfig) == 16);

// /flash/tavik_service, 44 bytes.
struct ServiceConfig {
  int32_t usb_spool;
  int32_t net_spool;
  int32_t net_sdk;
  int32_t spool_port;
  int32_t spool_timeout;  // milliseconds
  int32_t sdk_ssl;
  int32_t sdk_auth;
  int32_t eject_on_close;
  int32_t sdk_port;
  int32_t sdk_timeout;    // milliseconds
  int32_t log_level;
};
static_assert(sizeof(ServiceConfig) == 44);

// /flash/tavik_ocp, 28 bytes.
struct OcpConfig {
  int32_t enabled;
  int32_t echo;
  int32_t ssl;
  int32_t login;
  int32_t eject_on_close;
  int32_t port;
  int32_t timeout;  // milliseconds
};
static_assert(sizeof(OcpConfig) == 28);

// Factory defaults.
SystemConfig defaultSystemConfig();
ServiceConfig defaultServiceConfig();
OcpConfig defaultOcpConfig();

}  // namespace tavik
