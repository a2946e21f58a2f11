#include "app/application.h"

#include "console/console.h"
#include "devlink/dev_link.h"
#include "meter/meter_menu.h"

namespace qs {

Application::Application(DevLink& link) : link_(link) {
  MeterMenu menu(link_);
  menu.identifyDevice();
  int count = 0;
  loadMenuItems(settingsPath("common.sch"), &menuItems, &count);
  for (;;) {
    Console::clearLines(5, 16);
    int key = menu.run();
    if (key == kKeyEsc) break;
    // Function keys lead to the telemechanics screens; until a screen takes
    // them the menu simply comes back.
  }
}

}  // namespace qs
