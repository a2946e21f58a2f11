#include "app/application.h"

#include "console/console.h"
#include "devlink/dev_link.h"
#include "meter/meter_menu.h"
#include "zu/zu_controller.h"
#include "uso/uso_screen.h"

namespace qs {

Application::Application(DevLink& link, ZuController* zu) : link_(link), zu_(zu) {
  MeterMenu menu(link_, zu_);
  UsoScreen uso(link_);
  menu.identifyDevice();
  int count = 0;
  loadMenuItems(settingsPath("common.sch"), &menuItems, &count);
  for (;;) {
    Console::clearLines(5, 16);
    int key = menu.run();
    if (key == kKeyEsc) break;
    uso.selectView(key);
    if (uso.run() == kKeyEsc) break;
  }
  if (zu_ != nullptr) zu_->close();
}

}  // namespace qs
