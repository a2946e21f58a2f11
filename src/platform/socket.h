// IPv4 TCP client sockets (Winsock 2.2 on Windows, BSD sockets on POSIX).
#pragma once
#include <cstdint>

namespace qs::platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Winsock start-up and clean-up; nothing to do on POSIX.
bool socketStartup();
bool socketCleanup();

SocketHandle socketCreate();
// Receive time-out in milliseconds (SO_RCVTIMEO).
bool socketSetReceiveTimeout(SocketHandle s, int ms);
// Connects to a dotted IPv4 address (no name lookup; text that is not an
// address fails) within `timeoutMs`.
bool socketConnect(SocketHandle s, const char* dottedAddress, int port, int timeoutMs);
// True when the socket is readable within `timeoutMs` (0: just a look).
bool socketWaitReadable(SocketHandle s, int timeoutMs);

inline constexpr int kSocketWouldBlock = -2;
// Bytes received; 0 when the peer closed; -1 on an error; kSocketWouldBlock
// when nothing was there after all.
int socketRecv(SocketHandle s, uint8_t* buffer, int size);
// Bytes sent, or -1.
int socketSend(SocketHandle s, const uint8_t* data, int size);
bool socketShutdown(SocketHandle s);
bool socketClose(SocketHandle s);
// Closes with a reset instead of an orderly end (the peer's next receive fails).
void socketAbort(SocketHandle s);

// Server side, for the relay of the device simulator and for tests: a
// listener on 127.0.0.1 (port 0: the system picks one; *port tells which).
SocketHandle socketListen(int* port, bool anyAddress = false);
// A connection within `timeoutMs`, or kNoSocket.
SocketHandle socketAccept(SocketHandle listener, int timeoutMs);

}  // namespace qs::platform
