#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace qs::platform {
namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

bool socketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

bool socketCleanup() { return WSACleanup() == 0; }

SocketHandle socketCreate() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

bool socketSetReceiveTimeout(SocketHandle s, int ms) {
  // Eight bytes: the milliseconds as a 32-bit word, then a zero word.
  DWORD value[2] = {static_cast<DWORD>(ms), 0};
  return setsockopt(sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(value), sizeof value) == 0;
}

bool socketConnect(SocketHandle s, const char* dottedAddress, int port, int timeoutMs) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = inet_addr(dottedAddress);
  if (addr.sin_addr.s_addr == INADDR_NONE) return false;
  u_long nonBlocking = 1;
  ioctlsocket(sock(s), FIONBIO, &nonBlocking);
  int rc = ::connect(sock(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock(s), &writable);
    FD_SET(sock(s), &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    rc = (::select(0, nullptr, &writable, &failed, &tv) == 1 && FD_ISSET(sock(s), &writable)) ? 0 : -1;
  }
  nonBlocking = 0;
  ioctlsocket(sock(s), FIONBIO, &nonBlocking);
  return rc == 0;
}

bool socketWaitReadable(SocketHandle s, int timeoutMs) {
  if (s == kNoSocket) return false;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock(s), &readable);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(static_cast<int>(sock(s)) + 1, &readable, nullptr, nullptr, &tv) == 1;
}

int socketRecv(SocketHandle s, uint8_t* buffer, int size) {
  int n = ::recv(sock(s), reinterpret_cast<char*>(buffer), size, 0);
  if (n != SOCKET_ERROR) return n;
  int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK || err == WSAETIMEDOUT || err == WSAEINTR) return kSocketWouldBlock;
  return -1;
}

int socketSend(SocketHandle s, const uint8_t* data, int size) {
  int n = ::send(sock(s), reinterpret_cast<const char*>(data), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool socketShutdown(SocketHandle s) { return ::shutdown(sock(s), SD_BOTH) == 0; }

bool socketClose(SocketHandle s) { return ::closesocket(sock(s)) == 0; }

}  // namespace qs::platform

namespace qs::platform {

void socketAbort(SocketHandle s) {
  linger lg{1, 0};
  setsockopt(sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
  ::closesocket(sock(s));
}

SocketHandle socketListen(int* port, bool anyAddress) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(*port));
  addr.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  int len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 8) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  *port = ntohs(addr.sin_port);
  return static_cast<SocketHandle>(s);
}

SocketHandle socketAccept(SocketHandle listener, int timeoutMs) {
  if (!socketWaitReadable(listener, timeoutMs)) return kNoSocket;
  SOCKET s = ::accept(sock(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

}  // namespace qs::platform
