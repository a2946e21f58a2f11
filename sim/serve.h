// Serving a simulated line to a program outside: over a pseudo-terminal (the
// program opens its slave end as a serial port) or as a TCP relay.
#pragma once
#include <atomic>
#include <functional>
#include <string>

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

// Tells where a simulator serves: "<name>: <what>" on standard output and,
// when `readyFile` is given, the part after the first blank into that file
// (written whole, so a reader never sees half of it).
void announce(const std::string& name, const std::string& what, const std::string& readyFile);

}  // namespace qs::sim
