// Serving a simulated line to a program outside: over a pseudo-terminal (the
// program opens its slave end as a serial port) or as a TCP relay.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/peer.h"

namespace qs::sim {

// Opens a pseudo-terminal, links it at `linkPath` when given, tells
// `ready` its path, and serves until `stop` is set. Returns non-zero when
// the pseudo-terminal cannot be had.
int servePty(Peer& line, const std::string& linkPath, const std::function<void(const std::string&)>& ready,
             const std::atomic<bool>& stop);

// Listens on 127.0.0.1:`port` (0: any free port; with `anyAddress` on every
// address), tells `ready` the port, and serves one connection at a time
// until `stop` is set.
int serveTcp(Peer& line, int port, bool anyAddress, const std::function<void(int)>& ready,
             const std::atomic<bool>& stop);

// Serves a line from a thread of its own (tests and the bench): over a
// pseudo-terminal (linked at `linkPath` when given) when `tcpPort` is below
// 0, else as a TCP relay on 127.0.0.1:`tcpPort` (0: any free port). The
// constructor returns once the line is served or serving failed; the
// destructor stops it. Devices go on the line before it is served.
class BackgroundServer {
 public:
  BackgroundServer(Peer& line, int tcpPort, const std::string& linkPath = "");
  ~BackgroundServer();
  BackgroundServer(const BackgroundServer&) = delete;
  BackgroundServer& operator=(const BackgroundServer&) = delete;
  // What a program opens: the pseudo-terminal's path or "127.0.0.1:PORT";
  // empty when serving failed.
  const std::string& endpoint() const { return endpoint_; }
  int port() const { return port_; }

 private:
  void ready(const std::string& endpoint, int port);
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::string endpoint_;
  int port_ = 0;
  std::thread thread_;
};

// Tells where a simulator serves: "<name>: <what>" on standard output and,
// when `readyFile` is given, the part after the first blank into that file
// (written whole, so a reader never sees half of it).
void announce(const std::string& name, const std::string& what, const std::string& readyFile);

}  // namespace qs::sim
