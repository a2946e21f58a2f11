#include "build/build_info.h"

#include "app/version.h"
#include "build_id.h"

namespace qs {

std::string softwareText() { return std::string("qs ") + QS_VERSION + " (" + QS_REVISION + ")"; }

}  // namespace qs
