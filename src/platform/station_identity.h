// This computer's identity: a random number made once and kept in a file,
// by which the records tell the runs of this computer from those of
// another (its name may be the same on two computers, or change).
#pragma once
#include <string>

namespace qs::platform {

// The identity kept in `file` (made when there is none and `make`); the
// computer's name when the file can be neither read nor made, "" when it
// is not there and not to be made. Processes that start at once all take
// the one identity the first of them made.
std::string stationIdentity(const std::string& file, bool make = true);

}  // namespace qs::platform
