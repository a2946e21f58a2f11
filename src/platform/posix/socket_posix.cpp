#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qs::platform {

bool socketStartup() { return true; }
bool socketCleanup() { return true; }

SocketHandle socketCreate() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? kNoSocket : s;
}

bool socketSetReceiveTimeout(SocketHandle s, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool socketConnect(SocketHandle s, const char* dottedAddress, int port, int timeoutMs) {
  int fd = static_cast<int>(s);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = inet_addr(dottedAddress);
  if (addr.sin_addr.s_addr == INADDR_NONE) return false;
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int r;
    do r = ::poll(&p, 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    int err = ETIMEDOUT;
    socklen_t len = sizeof err;
    if (r == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    rc = err == 0 ? 0 : -1;
  }
  fcntl(fd, F_SETFL, flags);
  return rc == 0;
}

bool socketWaitReadable(SocketHandle s, int timeoutMs) {
  if (s == kNoSocket) return false;
  pollfd p{static_cast<int>(s), POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

int socketRecv(SocketHandle s, uint8_t* buffer, int size) {
  ssize_t n = ::recv(static_cast<int>(s), buffer, static_cast<size_t>(size), 0);
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kSocketWouldBlock;
  return -1;
}

int socketSend(SocketHandle s, const uint8_t* data, int size) {
  ssize_t n = ::send(static_cast<int>(s), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  return n < 0 ? -1 : static_cast<int>(n);
}

bool socketShutdown(SocketHandle s) { return ::shutdown(static_cast<int>(s), SHUT_RDWR) == 0; }

bool socketClose(SocketHandle s) { return ::close(static_cast<int>(s)) == 0; }

}  // namespace qs::platform

namespace qs::platform {

void socketAbort(SocketHandle s) {
  linger lg{1, 0};
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  ::close(static_cast<int>(s));
}

SocketHandle socketListen(int* port, bool anyAddress) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(*port));
  addr.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return kNoSocket;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

SocketHandle socketAccept(SocketHandle listener, int timeoutMs) {
  if (!socketWaitReadable(listener, timeoutMs)) return kNoSocket;
  int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoSocket : fd;
}

}  // namespace qs::platform
