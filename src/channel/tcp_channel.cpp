#include "channel/tcp_channel.h"

#include <cstring>

#include "console/bytes.h"
#include "console/console.h"
#include "platform/time.h"

namespace qs {
namespace {

constexpr size_t kHostMax = sizeof(TcpChannel::host) - 1;  // 19 characters

}  // namespace

TcpChannel::TcpChannel(const std::string& name) {
  std::string address = name;
  int serverPort = kDefaultRelayPort;
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    address = name.substr(0, colon);
    serverPort = static_cast<int>(decimalValue(std::string_view(name).substr(colon + 1)));
  }
  if (connectToServer(address.c_str(), serverPort) == 0) {
    isOpen = 1;
    nativeHandle = socketHandle;
  }
}

TcpChannel::~TcpChannel() {
  dropSocket();
  if (winsockStarted_) platform::socketCleanup();
}

int TcpChannel::connectToServer(const char* address, int serverPort, bool quiet) {
  auto say = [quiet](const char* text) {
    if (!quiet) Console::print("%s", text);
  };
  ++connectAttempts;
  if (std::strlen(address) > kHostMax) {  // cannot be kept for reconnecting
    say("Connection to server failed");
    return kChannelFailed;
  }
  if (!winsockStarted_) {
    if (!platform::socketStartup()) {
      say("Failed to init Winsock library\n");
      return kChannelFailed;
    }
    winsockStarted_ = true;
  }
  say("Opening connection to server\n");
  platform::SocketHandle s = platform::socketCreate();
  if (s == platform::kNoSocket) {
    say("Invalid socket, failed to create socket");
    return kChannelFailed;
  }
  // 1 ms: what ends a purge when the relay has nothing more to give.
  platform::socketSetReceiveTimeout(s, 1);
  if (!platform::socketConnect(s, address, serverPort, kConnectTimeoutMs)) {
    say("Connection to server failed");
    platform::socketClose(s);
    return kChannelFailed;
  }
  say("Connected to server\n");
  socketHandle = s;
  if (!rxBuffer && !allocateRxBuffer()) {
    close();
    return kChannelNoBuffer;
  }
  if (address != host) std::memmove(host, address, std::strlen(address) + 1);
  port = serverPort;
  return kChannelOk;
}

bool TcpChannel::waitReadable(platform::SocketHandle socket, int seconds) {
  return platform::socketWaitReadable(socket, seconds * 1000);
}

void TcpChannel::dropSocket() {
  if (socketHandle == platform::kNoSocket) return;
  platform::socketClose(socketHandle);
  socketHandle = platform::kNoSocket;
}

void TcpChannel::reconnect() {
  if (host[0] == '\0') return;  // never connected: nothing to go back to
  uint32_t now = platform::tickCount();
  if (reconnectTried_ && now - lastReconnect_ < kReconnectIntervalMs) return;
  reconnectTried_ = true;
  lastReconnect_ = now;
  connectToServer(host, port, true);
  lastReconnect_ = platform::tickCount();
}

int TcpChannel::read(uint8_t* buffer, int max, unsigned* count) {
  if (count != nullptr) *count = 0;
  if (socketHandle == platform::kNoSocket) {
    reconnect();
    return 0;
  }
  if (!waitReadable(socketHandle, 0)) return 0;
  int n = platform::socketRecv(socketHandle, buffer, max);
  if (n == platform::kSocketWouldBlock) return 0;
  if (n <= 0) {
    // An error or a relay that closed the connection: give the socket up and
    // connect again (the relay may have been restarted).
    dropSocket();
    reconnect();
    return n;
  }
  if (count != nullptr) *count = static_cast<unsigned>(n);
  return n;
}

bool TcpChannel::awaitInput(uint32_t ms) {
  if (socketHandle == platform::kNoSocket) return false;
  platform::socketWaitReadable(socketHandle, static_cast<int>(ms));
  return true;
}

int TcpChannel::write(const uint8_t* data, int length, int) {
  if (socketHandle == platform::kNoSocket) return -1;
  int sent = 0;
  int last = 0;
  while (sent < length) {
    last = platform::socketSend(socketHandle, data + sent, length - sent);
    if (last < 0) break;
    sent += last;
  }
  return last;
}

void TcpChannel::purge() {
  if (socketHandle == platform::kNoSocket || !rxBuffer) return;
  // Until nothing more comes within the 1-ms receive time-out, or the relay closes.
  while (platform::socketWaitReadable(socketHandle, 1)) {
    if (platform::socketRecv(socketHandle, rxBuffer.get(), rxBufferSize) <= 0) break;
  }
}

int TcpChannel::close() {
  if (socketHandle != platform::kNoSocket) {
    if (!platform::socketShutdown(socketHandle)) {
      Console::print("Error trying to perform shutdown on socket");
      return kChannelFailed;
    }
    if (!platform::socketClose(socketHandle)) Console::print("Error failed to close socket");
    socketHandle = platform::kNoSocket;
  }
  isOpen = 0;
  if (winsockStarted_) {
    winsockStarted_ = false;
    if (!platform::socketCleanup()) {
      Console::print("Error cleaning up Winsock Library");
      return kChannelFailed;
    }
  }
  return -2;
}

}  // namespace qs
