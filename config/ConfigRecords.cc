#include "config/ConfigRecords.h"

namespace tavik {

SystemConfig defaultSystemConfig() {
  SystemConfig c{};
  c.dhcp = 1;
  c.ip[0] = 192; c.ip[1] = 168; c.ip[2] = 0; c.ip[3] = 223;
  c.netmask[0] = 255; c.netmask[1] = 255; c.netmask[2] = 255; c.netmask[3] = 0;
  c.gateway[0] = 192; c.gateway[1] = 168; c.gateway[2] = 0; c.gateway[3] = 1;
  return c;
}

ServiceConfig defaultServiceConfig() {
  ServiceConfig c{};
  c.usb_spool = 1;
  c.net_spool = 1;
  c.net_sdk = 1;
  c.spool_port = 9100;
  c.spool_timeout = 300000;
  c.sdk_ssl = 1;
  c.sdk_auth = 0;
  c.eject_on_close = 1;
  c.sdk_port = 11110;
  c.sdk_timeout = 300000;
  c.log_level = 1;
  return c;
}

OcpConfig defaultOcpConfig() {
  OcpConfig c{};
  c.enabled = 1;
  c.echo = 1;
  c.ssl = 0;
  c.login = 0;
  c.eject_on_close = 1;
  c.port = 23;
  c.timeout = 300000;
  return c;
}

}  // namespace tavik
