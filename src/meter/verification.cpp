// The verification run of a bench: the test points of a programme, one
// after the other, on the reference installation (directly, or through the
// master of a stand), with the averaged value and the three channel values
// that the installation measured at each.
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings.h"
#include "console/console.h"
#include "console/text_file.h"
#include "meter/meter_menu.h"
#include "platform/time.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

struct Programme {
  std::string key;
  int identity = 0;
  std::string title;
};

// The Ver and Ver_Vrf lines of the settings, in file order.
std::vector<Programme> programmes(const std::string& path) {
  std::vector<Programme> out;
  std::vector<std::string> lines;
  if (!readSettingsLines(path, lines)) return out;
  for (const std::string& line : lines) {
    if (line.empty() || isCommentLine(line)) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    if (!sameKey(key, "Ver") && !sameKey(key, "Ver_Vrf")) continue;
    std::vector<std::string> f;
    size_t at = line.find('\t', colon + 1);
    while (at != std::string::npos && f.size() < 4) {
      size_t next = line.find('\t', at + 1);
      if (next == std::string::npos) break;
      f.push_back(line.substr(at + 1, next - at - 1));
      at = next;
    }
    if (f.size() < 4) continue;
    int o = static_cast<int8_t>(decimalValue(f[0]));
    int t = static_cast<int8_t>(decimalValue(f[1]));
    int u = static_cast<int8_t>(decimalValue(f[2]));
    out.push_back(Programme{key, o * 65536 + t * 256 + u, f[3]});
  }
  return out;
}

bool escPressed() { return Console::keyPending() && Console::readKey() == kKeyEsc; }

// Waits up to `ms`, looking for Esc; false when the operator pressed it.
bool pause(uint32_t ms) {
  for (uint32_t waited = 0; waited < ms; waited += 50) {
    if (escPressed()) return false;
    platform::sleepMs(50);
  }
  return true;
}

}  // namespace

bool MeterMenu::verificationOffered() const {
  return zu_ != nullptr && (zu_->isSlave() || (zu_->channel && zu_->channel->isOpen && zu_->autoOn));
}

int MeterMenu::verification() {
  Console::clearLines(19, 18);
  std::vector<Programme> list = programmes(settingsPath("common.sch"));
  if (list.empty()) {
    Console::print("\nНет программ поверки (Ver, Ver_Vrf) в настройках.\n");
    return -1;
  }
  Console::print("\nПрограммы поверки:\n");
  for (size_t i = 0; i < list.size() && i < 9; ++i)
    Console::print(" <%u>  %s %s\n", static_cast<unsigned>(i + 1), list[i].key.c_str(), list[i].title.c_str());
  int key = Console::readKey();
  if (key < '1' || key >= '1' + static_cast<int>(list.size() < 9 ? list.size() : 9)) {
    Console::clearLines(19, 18);
    return kKeyEsc;
  }
  const Programme& p = list[static_cast<size_t>(key - '1')];
  bool byGroup = sameKey(p.key, "Ver_Vrf");
  int r = zu_->loadProgramme(settingsPath("common.sch"), p.key, p.identity, byGroup ? 1 : 0, 1);
  Console::clearLines(19, 18);
  if (r == kKeyEsc) return kKeyEsc;
  if (r != 0) {
    Console::print("\nОшибка загрузки программы поверки (%d).\n", r);
    return r;
  }
  std::vector<TestPoint> points = zu_->testPoints;
  Console::print("\n N     U       I      PF   Ф    Среднее    Канал 1   Канал 2   Канал 3\n");
  int shown = 0;
  int result = 0;
  for (const TestPoint& tp : points) {
    if (escPressed()) {
      result = kKeyEsc;
      break;
    }
    if (zu_->setTestPoint(tp.number, tp.phases) == kKeyEsc) {
      result = kKeyEsc;
      break;
    }
    // Fresh averaged values: the average restarts with the test point.
    for (int i = 0; i < 60 && zu_->average() == 0.0; ++i)
      if (!pause(50)) break;
    if (!pause(1000)) {
      result = kKeyEsc;
      break;
    }
    double average = zu_->average();
    if (zu_->pulseErrorOn(tp.number) == kKeyEsc) {
      result = kKeyEsc;
      break;
    }
    if (!pause(1500)) {
      result = kKeyEsc;
      break;
    }
    double c[3] = {zu_->channelValue(0), zu_->channelValue(1), zu_->channelValue(2)};
    if (zu_->pulseErrorOff(tp.number) == kKeyEsc) {
      result = kKeyEsc;
      break;
    }
    if (shown == 15) {  // the table keeps to the work area
      Console::clearLines(21, 15);
      shown = 0;
    }
    Console::gotoXY(0, 21 + shown++);
    Console::print("%2d %7.2f %7.3f %6.2f %-5s %10.3f %9.3f %9.3f %9.3f", tp.number, tp.U * tp.Upct * 0.01,
                   tp.I * tp.Ipct * 0.01, tp.PF, phaseName(tp.phases), average, c[0], c[1], c[2]);
    if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postIdle();
  }
  if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postLeaveCalibration();
  Console::gotoXY(0, 36);
  Console::print(result == kKeyEsc ? "Поверка прервана." : "Поверка завершена.");
  Console::readKey();
  Console::clearLines(19, 18);
  return result;
}

}  // namespace qs
