// The interactive run of one bench: the meter service menu, and the
// telemechanics screens that its function keys lead to.
#pragma once
#include <vector>

#include "app/settings.h"

namespace qs {

class DevLink;

class Application {
 public:
  // Builds its screens and runs the interactive loop to its end: control
  // comes back only when the operator has left.
  explicit Application(DevLink& link);

  std::vector<MenuItem> menuItems;

 private:
  DevLink& link_;
};

}  // namespace qs
