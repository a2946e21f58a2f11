// What the program is: its version and the source revision it was built
// from, for `qs --version` and for every verification run's record.
#pragma once
#include <string>

namespace qs {

// "qs 0.1.0 (3668fd8a1b2c)"; "+" after the revision for a build of changed
// sources.
std::string softwareText();

}  // namespace qs
