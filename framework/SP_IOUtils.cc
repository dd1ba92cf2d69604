#include "framework/SP_IOUtils.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "framework/SP_Log.h"

int SP_IOUtils::openTcpListener(const char* bindAddress, int port, int* sock, int blocking) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    sp_syslog(LOG_WARNING, "socket failed, errno %d, %s", errno, std::strerror(errno));
    return -1;
  }
  if (!blocking && setNonBlocking(fd) != 0) {
    sp_syslog(LOG_WARNING, "failed to set socket to non-blocking");
    ::close(fd);
    return -1;
  }
  int ret = 0;
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) < 0) {
    sp_syslog(LOG_WARNING, "failed to set setsock to reuseaddr");
    ret = -1;
  }
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) < 0) {
    sp_syslog(LOG_WARNING, "failed to set socket to nodelay");
    ret = -1;
  }
  if (ret != 0) {
    ::close(fd);
    return -1;
  }
  struct sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = INADDR_ANY;
  if (bindAddress != nullptr && bindAddress[0] != '\0' && ::inet_aton(bindAddress, &addr.sin_addr) == 0) {
    sp_syslog(LOG_WARNING, "failed to convert %s to inet_addr", bindAddress);
    ::close(fd);
    return -1;
  }
  if (::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) < 0) {
    sp_syslog(LOG_WARNING, "bind failed, errno %d, %s", errno, std::strerror(errno));
    ::close(fd);
    return -1;
  }
  if (::listen(fd, 1024) < 0) {
    sp_syslog(LOG_WARNING, "listen failed, errno %d, %s", errno, std::strerror(errno));
    ::close(fd);
    return -1;
  }
  *sock = fd;
  sp_syslog(LOG_NOTICE, "Listen on port [%d]", port);
  return 0;
}

int SP_IOUtils::setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return flags;
  int rc = ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return rc < 0 ? rc : 0;
}

int SP_IOUtils::setBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return flags;
  int rc = ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return rc < 0 ? rc : 0;
}

void SP_IOUtils::formatIpv4(struct in_addr address, char* text, int size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
  std::snprintf(text, static_cast<size_t>(size), "%i.%i.%i.%i", b[0], b[1], b[2], b[3]);
}
