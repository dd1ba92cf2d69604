// Socket helpers of the server: the listening socket, blocking mode and
// address text. Internal to framework/ (services never need them).
#pragma once

#include <netinet/in.h>

class SP_IOUtils {
 public:
  // A TCP listener on bindAddress (dotted IPv4, empty for any) and port;
  // port 0 picks a free one. Logs each failure; returns 0 and the socket,
  // or -1.
  static int openTcpListener(const char* bindAddress, int port, int* socket, int blocking = 0);
  // Return the failing fcntl result (negative) or 0.
  static int setNonBlocking(int fd);
  static int setBlocking(int fd);
  // "a.b.c.d" of an address in network order.
  static void formatIpv4(struct in_addr address, char* text, int size);
};
