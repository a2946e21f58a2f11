// The interactive run of one bench: the meter service menu, and the
// telemechanics screens that its function keys lead to.
#pragma once
#include <vector>

#include "settings/settings.h"

namespace qs {

class DevLink;
class ZuController;

class Application {
 public:
  // Builds its screens and runs the interactive loop to its end: control
  // comes back only when the operator has left. The installation controller
  // (when there is one) is closed at the end.
  Application(DevLink& link, ZuController* zu);

  std::vector<MenuItem> menuItems;

 private:
  DevLink& link_;
  ZuController* zu_;
};

}  // namespace qs
