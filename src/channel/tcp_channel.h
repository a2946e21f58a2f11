// The channel over a TCP connection to a relay that passes the device's
// bytes unchanged. The constructor connects; a connection that fails or that
// the relay closes is made again by the reads, at most once a second.
#pragma once
#include "channel/channel.h"
#include "platform/socket.h"

namespace qs {

inline constexpr int kDefaultRelayPort = 1140;
// How long one connect may take before it counts as failed.
inline constexpr int kConnectTimeoutMs = 5000;
// Pause between two connects made by reads.
inline constexpr uint32_t kReconnectIntervalMs = 1000;

class TcpChannel : public Channel {
 public:
  // `name` is "IP" or "IP:PORT" (port 1140 when no colon).
  explicit TcpChannel(const std::string& name);
  ~TcpChannel() override;

  void purge() override;
  int open(const std::string&, int) override { return 0; }
  // -2 when done; -1 when the shutdown or the Winsock clean-up failed.
  int close() override;
  int write(const uint8_t* data, int length, int preamble) override;
  int read(uint8_t* buffer, int max, unsigned* count) override;

  // 0, -1 (cannot connect), -4 (no receive buffer). Prints its progress
  // unless `quiet` (the reconnects made by reads must not write over the
  // screen the operator is watching).
  int connectToServer(const char* address, int port, bool quiet = false);
  static bool waitReadable(platform::SocketHandle socket, int seconds);

  char host[20] = "";
  int port = 0;
  int connectAttempts = 0;  // every connect tried, the reconnects included
  platform::SocketHandle socketHandle = platform::kNoSocket;

 protected:
  bool awaitInput(uint32_t ms) override;

 private:
  void dropSocket();
  void reconnect();

  bool winsockStarted_ = false;
  bool reconnectTried_ = false;
  uint32_t lastReconnect_ = 0;
};

}  // namespace qs
