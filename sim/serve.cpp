#include "sim/serve.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/pty.h"
#include "platform/socket.h"
#include "platform/time.h"

namespace qs::sim {
namespace {

constexpr int kIdleWaitMs = 20;

int waitFor(const Peer& line) {
  int due = line.nextDueIn(platform::tickCount());
  return due < 0 ? kIdleWaitMs : std::min(due, kIdleWaitMs);
}

}  // namespace

int servePty(Peer& line, const std::string& linkPath, const std::function<void(const std::string&)>& ready,
             const std::atomic<bool>& stop) {
  platform::PseudoTerminal pty;
  if (!platform::ptyOpen(&pty)) return 1;
  if (!linkPath.empty()) {
    std::error_code ec;
    std::filesystem::remove(linkPath, ec);
    std::filesystem::create_symlink(pty.slavePath, linkPath, ec);
    if (ec) {
      platform::ptyClose(&pty);
      return 2;
    }
  }
  ready(pty.slavePath);
  uint8_t buf[1024];
  while (!stop) {
    int n = platform::ptyRead(pty, buf, sizeof buf, waitFor(line));
    if (n > 0) line.receive(buf, static_cast<size_t>(n), platform::tickCount());
    else if (n < 0) platform::sleepMs(kIdleWaitMs);
    size_t due = line.take(buf, sizeof buf, platform::tickCount());
    if (due > 0) platform::ptyWrite(pty, buf, due);
  }
  platform::ptyClose(&pty);
  if (!linkPath.empty()) {
    std::error_code ec;
    std::filesystem::remove(linkPath, ec);
  }
  return 0;
}

int serveTcp(Peer& line, int port, bool anyAddress, const std::function<void(int)>& ready,
             const std::atomic<bool>& stop) {
  platform::socketStartup();
  platform::SocketHandle listener = platform::socketListen(&port, anyAddress);
  if (listener == platform::kNoSocket) return 1;
  ready(port);
  uint8_t buf[1024];
  while (!stop) {
    platform::SocketHandle client = platform::socketAccept(listener, 200);
    if (client == platform::kNoSocket) continue;
    while (!stop) {
      if (platform::socketWaitReadable(client, waitFor(line))) {
        int n = platform::socketRecv(client, buf, sizeof buf);
        if (n == 0 || n == -1) break;  // the program went away: wait for the next one
        if (n > 0) line.receive(buf, static_cast<size_t>(n), platform::tickCount());
      }
      size_t due = line.take(buf, sizeof buf, platform::tickCount());
      if (due > 0 && platform::socketSend(client, buf, static_cast<int>(due)) < 0) break;
    }
    platform::socketClose(client);
  }
  platform::socketClose(listener);
  return 0;
}

BackgroundServer::BackgroundServer(Peer& line, int tcpPort, const std::string& linkPath) {
  thread_ = std::thread([this, &line, tcpPort, linkPath] {
    if (tcpPort >= 0) {
      serveTcp(line, tcpPort, false, [this](int port) { ready("127.0.0.1:" + std::to_string(port), port); }, stop_);
    } else {
      servePty(line, linkPath, [this](const std::string& path) { ready(path, 0); }, stop_);
    }
    ready("", 0);  // serving failed (or ended): nobody waits for ever
  });
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return done_; });
}

BackgroundServer::~BackgroundServer() {
  stop_ = true;
  thread_.join();
}

void BackgroundServer::ready(const std::string& endpoint, int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  endpoint_ = endpoint;
  port_ = port;
  done_ = true;
  cv_.notify_all();
}

void announce(const std::string& name, const std::string& what, const std::string& readyFile) {
  std::printf("%s: %s\n", name.c_str(), what.c_str());
  std::fflush(stdout);
  if (readyFile.empty()) return;
  std::ofstream(readyFile + ".tmp") << what.substr(what.find(' ') + 1) << "\n";
  std::error_code ec;
  std::filesystem::rename(readyFile + ".tmp", readyFile, ec);
}

}  // namespace qs::sim
