// qs-zusim: the reference installation's keypad and display on a
// pseudo-terminal (or a TCP port), for qs's installation port.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim/serve.h"
#include "sim/zu_sim.h"

namespace {

std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

void usage() {
  std::printf(
      "qs-zusim - the reference installation's keypad and display\n"
      "\n"
      "Usage: qs-zusim [options]\n"
      "  --link PATH        make PATH a link to the pseudo-terminal (e.g. QS_ADD/com5,\n"
      "                     with Port_ZU naming port 5)\n"
      "  --tcp PORT         serve on 127.0.0.1:PORT instead of a pseudo-terminal\n"
      "  --report-ms N      measured values every N ms in measuring state (default 250)\n"
      "  --errors E1,E2,E3  the channels' own errors in percent (default 0.12,-0.08,0.05);\n"
      "                     a point adds 0.1 per phase code and 0.001 per percent of current\n"
      "  --spread S         successive channel values differ by up to S (default 0)\n"
      "  --never SCREEN     never show this screen (e.g. 8IP): the sequence fails there\n"
      "  --instead TEXT     with --never: show TEXT in its place\n"
      "  --never-while F    with --never: only while the file F exists\n"
      "  --keys FILE        append every key received to FILE\n"
      "  --events FILE      append what the installation does to FILE, a line each:\n"
      "                     set (phase byte, U, U%%, I, I%%, PF, load, then the power\n"
      "                     and channel values it reports there), pulse-on (the\n"
      "                     same for the point it measures pulse errors at),\n"
      "                     pulse-off, reset\n"
      "  --ready-file F     write the pseudo-terminal path or TCP port to F when ready\n"
      "  --help             this text\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, readyFile, keysFile, eventsFile, faultFile;
  int tcpPort = -1;
  qs::sim::ZuSim zu;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qs-zusim: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--link") {
      link = value();
    } else if (a == "--tcp") {
      tcpPort = std::atoi(value());
    } else if (a == "--report-ms") {
      zu.reportMs = static_cast<uint32_t>(std::atoi(value()));
    } else if (a == "--errors") {
      if (std::sscanf(value(), "%lf,%lf,%lf", &zu.channelErrors[0], &zu.channelErrors[1], &zu.channelErrors[2]) != 3) {
        std::fprintf(stderr, "qs-zusim: --errors needs three numbers: E1,E2,E3\n");
        return 2;
      }
    } else if (a == "--spread") {
      zu.channelSpread = std::atof(value());
    } else if (a == "--never") {
      zu.neverShow = value();
    } else if (a == "--instead") {
      zu.showInstead = value();
    } else if (a == "--never-while") {
      faultFile = value();
    } else if (a == "--events") {
      eventsFile = value();
    } else if (a == "--keys") {
      keysFile = value();
    } else if (a == "--ready-file") {
      readyFile = value();
    } else {
      std::fprintf(stderr, "qs-zusim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (!faultFile.empty()) {
    zu.faultActive = [faultFile] {
      std::ifstream f(faultFile);
      return f.good();
    };
  }
  if (!eventsFile.empty()) {
    zu.onEvent = [eventsFile](const std::string& line) {
      std::ofstream out(eventsFile, std::ios::app);
      out << line << '\n';
    };
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  // Keys are logged by a peer that stands in front of the installation.
  struct Logged : qs::sim::Peer {
    qs::sim::ZuSim& zu;
    std::string file;
    Logged(qs::sim::ZuSim& z, std::string f) : zu(z), file(std::move(f)) {}
    void receive(const uint8_t* d, size_t n, uint32_t now) override {
      if (!file.empty()) {
        std::ofstream out(file, std::ios::app | std::ios::binary);
        out.write(reinterpret_cast<const char*>(d), static_cast<std::streamsize>(n));
      }
      zu.receive(d, n, now);
    }
    size_t take(uint8_t* o, size_t m, uint32_t now) override { return zu.take(o, m, now); }
    int nextDueIn(uint32_t now) const override { return zu.nextDueIn(now); }
  } peer(zu, keysFile);

  auto announce = [&](const std::string& what) { qs::sim::announce("qs-zusim", what, readyFile); };
  int rc;
  if (tcpPort >= 0) {
    rc = qs::sim::serveTcp(peer, tcpPort, false, [&](int port) { announce("tcp " + std::to_string(port)); }, gStop);
  } else {
    rc = qs::sim::servePty(peer, link, [&](const std::string& path) { announce("pty " + path); }, gStop);
  }
  if (rc != 0) std::fprintf(stderr, "qs-zusim: cannot serve (%d)\n", rc);
  return rc;
}
