// qs-devsim: simulated devices under test on one line, served over a
// pseudo-terminal or as a TCP relay.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "devlink/local_time.h"
#include "sim/device_sim.h"
#include "sim/serve.h"

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) { gStop = true; }

void usage() {
  std::printf(
      "qs-devsim - simulated meters with telemechanics on one line\n"
      "\n"
      "Usage: qs-devsim [options]\n"
      "  --pty               serve over a pseudo-terminal (the default); its path is printed\n"
      "  --link PATH         also make PATH a link to the pseudo-terminal (e.g. QS_ADD/com3)\n"
      "  --tcp PORT          serve as a TCP relay on 127.0.0.1:PORT instead (0: any free port)\n"
      "  --any               with --tcp: listen on every address, not only 127.0.0.1\n"
      "  --devices N         N devices at addresses 21, 22, ... (hex; default 1)\n"
      "  --address HEX,...   the devices' addresses instead (e.g. 21,35,07)\n"
      "  --serial HEX        serial number of the first device (default 123456; the next\n"
      "                      ones count on)\n"
      "  --type N            the devices' type code (0: 3Ф3П( 57В), 1: 3Ф4П(220В), 2: 3Ф3П(127В);\n"
      "                      default 1)\n"
      "  --drop P            lose each answer with probability P (0..1)\n"
      "  --corrupt P         change one byte of each answer with probability P\n"
      "  --noise P           put random bytes before each answer with probability P\n"
      "  --answer-ms SPEC    when devices answer after a request: N ms, or late (1 ms before the\n"
      "                      end of the time the program gives the command); ADDR:N|late,... per device\n"
      "  --delay MS          hold every answer back MS milliseconds\n"
      "  --seed N            seed of the faults (default 1)\n"
      "  --wire BAUD         answer no sooner than a real line at BAUD would carry the\n"
      "                      request and the answer (default: at once)\n"
      "  --clock TIME        the devices' clocks stand at TIME (\"2026-03-01 10:00:00\",\n"
      "                      local time) so that listings of two runs are alike\n"
      "  --ready-file F      write the pseudo-terminal path or the TCP port to F when ready\n"
      "  --events F          append what changes a device to F, one line each: \"tu 21 0005\"\n"
      "                      (outputs switched), \"address 21 35\", \"eeprom 21 0034 4\",\n"
      "                      \"clock 21\"\n"
      "  --help              this text\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, readyFile, eventsFile;
  int tcpPort = -1, devices = 1;
  bool any = false;
  uint32_t serial = 0x123456;
  int deviceType = 1;
  std::string answerSpec;  // "N", "late", or "21:5,22:late"
  std::vector<int> addresses;
  qs::sim::Faults faults;
  uint32_t wireBaud = 0;
  int64_t standingClock = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qs-devsim: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--pty") {
      tcpPort = -1;
    } else if (a == "--link") {
      link = value();
    } else if (a == "--tcp") {
      tcpPort = std::atoi(value());
    } else if (a == "--any") {
      any = true;
    } else if (a == "--devices") {
      devices = std::atoi(value());
    } else if (a == "--address") {
      std::string list = value();
      for (size_t at = 0; at < list.size();) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        addresses.push_back(static_cast<int>(std::strtol(list.substr(at, comma - at).c_str(), nullptr, 16)));
        at = comma + 1;
      }
    } else if (a == "--type") {
      deviceType = std::atoi(value());
      if (deviceType < 0 || deviceType > 255) {
        std::fprintf(stderr, "qs-devsim: --type needs a number 0..255\n");
        return 2;
      }
    } else if (a == "--serial") {
      serial = static_cast<uint32_t>(std::strtoul(value(), nullptr, 16));
    } else if (a == "--drop") {
      faults.drop = std::atof(value());
    } else if (a == "--corrupt") {
      faults.corrupt = std::atof(value());
    } else if (a == "--noise") {
      faults.noise = std::atof(value());
    } else if (a == "--answer-ms") {
      answerSpec = value();
    } else if (a == "--delay") {
      faults.delayMs = static_cast<uint32_t>(std::atoi(value()));
    } else if (a == "--seed") {
      faults.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (a == "--wire") {
      wireBaud = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (a == "--events") {
      eventsFile = value();
    } else if (a == "--clock") {
      int y, mo, d, h, mi, sec;
      if (std::sscanf(value(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec) != 6) {
        std::fprintf(stderr, "qs-devsim: --clock takes \"YYYY-MM-DD HH:MM:SS\"\n");
        return 2;
      }
      standingClock = qs::fromLocalTime(y, mo, d, h, mi, sec);
    } else if (a == "--ready-file") {
      readyFile = value();
    } else {
      std::fprintf(stderr, "qs-devsim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (addresses.empty()) {
    if (devices < 1 || devices > 99) devices = 1;
    for (int d = 0; d < devices; ++d) addresses.push_back(0x21 + d);
  }
  qs::sim::SimLine line;
  line.setFaults(faults);
  line.baud = wireBaud;
  for (size_t d = 0; d < addresses.size(); ++d) {
    qs::sim::SimDevice& device = line.add(qs::sim::SimDevice::make(static_cast<uint8_t>(addresses[d]), serial + static_cast<uint32_t>(d)));
    device.type = static_cast<uint8_t>(deviceType);
    // When it answers: for every device, or for the addresses named.
    std::string rest = answerSpec;
    while (!rest.empty()) {
      std::string item = rest.substr(0, rest.find(','));
      rest = rest.find(',') == std::string::npos ? "" : rest.substr(rest.find(',') + 1);
      size_t colon = item.find(':');
      if (colon != std::string::npos) {
        if (static_cast<int>(std::strtoul(item.substr(0, colon).c_str(), nullptr, 16)) != addresses[d]) continue;
        item = item.substr(colon + 1);
      }
      if (item == "late") {
        device.answerLate = true;
      } else if (!item.empty() && item.find_first_not_of("0123456789") == std::string::npos) {
        device.answerMs = std::atoi(item.c_str());
      } else {
        std::fprintf(stderr, "qs-devsim: --answer-ms takes N, late, or ADDR:N|late,...\n");
        return 2;
      }
    }
    if (standingClock >= 0) {
      device.clockStands = true;
      device.clockOffset = standingClock;
    }
  }
  if (!eventsFile.empty()) {
    line.onEvent = [eventsFile](const std::string& event) {
      std::ofstream(eventsFile, std::ios::app) << event << std::endl;
    };
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  auto announce = [&](const std::string& what) { qs::sim::announce("qs-devsim", what, readyFile); };
  int rc;
  if (tcpPort >= 0) {
    rc = qs::sim::serveTcp(line, tcpPort, any, [&](int port) { announce("tcp " + std::to_string(port)); }, gStop);
  } else {
    rc = qs::sim::servePty(line, link, [&](const std::string& path) { announce("pty " + path); }, gStop);
  }
  if (rc != 0) std::fprintf(stderr, "qs-devsim: cannot serve (%d)\n", rc);
  return rc;
}
