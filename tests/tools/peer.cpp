// The far end of a device channel, for tests that run a whole program:
//   qs-peer serial LINK SETTINGS_FILE
//     a pseudo-terminal linked at LINK (QS_ADD/comN, or a Wine prefix's
//     dosdevices/comN) that echoes every byte and writes the line settings
//     it sees to SETTINGS_FILE whenever they change;
//   qs-peer tcp PORT_FILE LOG_FILE
//     a relay on 127.0.0.1 (port written to PORT_FILE) that echoes every
//     byte and logs "connected" for each connection.
// Runs until killed.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/pty.h"
#include "platform/socket.h"
#include "platform/time.h"

using namespace qs::platform;

namespace {

std::string describe(const LineSettings& s) {
  return "baud=" + std::to_string(s.baud) + " cs8=" + std::to_string(s.eightBits) +
         " parity=" + std::to_string(s.parity) + " stop2=" + std::to_string(s.twoStopBits) +
         " rtscts=" + std::to_string(s.hardwareFlow) + " xonxoff=" + std::to_string(s.softwareFlow) +
         " icanon=" + std::to_string(s.canonical) + " echo=" + std::to_string(s.echo) +
         " opost=" + std::to_string(s.outputProcessing) + " inlcr=" + std::to_string(s.inputTranslation);
}

void writeFileAtomically(const std::string& path, const std::string& text) {
  std::ofstream(path + ".tmp") << text << "\n";
  std::error_code ec;
  std::filesystem::rename(path + ".tmp", path, ec);
}

int serialPeer(const char* link, const char* settingsFile) {
  PseudoTerminal pty;
  if (!ptyOpen(&pty)) return 1;
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(pty.slavePath, link);
  std::string last;
  for (;;) {
    uint8_t buf[512];
    int n = ptyRead(pty, buf, sizeof buf, 10);
    if (n > 0) ptyWrite(pty, buf, static_cast<size_t>(n));
    LineSettings s;
    if (ptyLineSettings(pty, &s)) {
      std::string now = describe(s);
      if (now != last) writeFileAtomically(settingsFile, now);
      last = now;
    }
    if (n < 0) sleepMs(10);
  }
}

int tcpPeer(const char* portFile, const char* logFile) {
  int port = 0;
  SocketHandle listener = socketListen(&port);
  if (listener == kNoSocket) return 1;
  writeFileAtomically(portFile, std::to_string(port));
  for (;;) {
    SocketHandle s = socketAccept(listener, 1000);
    if (s == kNoSocket) continue;
    std::ofstream(logFile, std::ios::app) << "connected" << std::endl;
    for (;;) {
      if (!socketWaitReadable(s, 1000)) continue;
      uint8_t buf[512];
      int n = socketRecv(s, buf, sizeof buf);
      if (n == kSocketWouldBlock) continue;
      if (n <= 0) break;
      socketSend(s, buf, n);
    }
    socketClose(s);
    std::ofstream(logFile, std::ios::app) << "closed" << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "serial") == 0) return serialPeer(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "tcp") == 0) return tcpPeer(argv[2], argv[3]);
  std::fprintf(stderr, "usage: qs-peer serial LINK SETTINGS_FILE | qs-peer tcp PORT_FILE LOG_FILE\n");
  return 2;
}
