// The load-profile screen and the listing file.
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "console/codepage.h"
#include "console/console.h"
#include "console/text_file.h"
#include "console/whole_file.h"
#include "devlink/dev_link.h"
#include "devlink/local_time.h"
#include "meter/meter_menu.h"

namespace qs {
namespace {

constexpr int kListRows = 20;
constexpr int kDetailRows = 20;
constexpr int kScreenSlots = 48;
constexpr int kMaxProfileDays = 255;

int readScreenKey() {
  int key = Console::readKey();
  if (key == kKeyPrefixCursor) key = Console::readKey();
  return key;
}

// "    HH:MM:00 " of slot s: the half hour that ends s x 30 minutes after midnight.
std::string slotLabel(int slot) {
  char text[32];
  std::snprintf(text, sizeof text, "    %02d:%02d:00 ", slot / 2, (slot % 2) != 0 ? 30 : 0);
  return text;
}

// Text with "\n" line ends in UTF-8, as the listing file holds it:
// Windows-1251 with CR LF.
std::string listingBytes(const std::string& text) {
  std::string out;
  for (char c : utf8ToCp1251(text)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void cannotWrite() {
  Console::clearLines(9, 2);
  Console::gotoXY(0, 9);
  Console::print("Запись в файл невозможна!!!");
  Console::print("\r\nВозможная проблема, файл открыт другим приложением.");
}

}  // namespace

int MeterMenu::profile() {
  Console::clearLines(0, 16);
  Console::gotoXY(0, 0);
  int64_t deviceTime = 0;
  if (link_.readDeviceTime(&deviceTime) != 0) {
    Console::print("Ошибка запроса времени.\n");
    return -1;
  }
  Console::clearLines(5, 2);
  std::tm kept{};
  char text[80] = "";
  if (localTime(deviceTime, &kept)) std::strftime(text, sizeof text, "  DT:%Y-%m-%d,%H:%M:%S\n", &kept);
  Console::print("%s  ", text);

  Console::gotoXY(0, 10);
  double depth = 1.0;
  if (Console::readNumber("Введите глубину чтения (по умолч. 1): ", &depth) == kKeyEsc) return 0;
  // A depth past what a read can hold is refused, not cut to its low byte
  // (256 would read nothing and 300 would read 44 days).
  if (!(depth >= 0 && depth < kMaxProfileDays + 1)) {
    Console::gotoXY(0, 11);
    Console::print("Ошибка: глубина чтения от 0 до %d дней.", kMaxProfileDays);
    return 0;
  }
  int days = static_cast<int>(depth);
  std::unique_ptr<ProfileRecord[]> records(new ProfileRecord[static_cast<size_t>(days > 0 ? days : 1)]);

  int64_t t = fromLocalTm(kept);
  for (int d = 1; d <= days; ++d) {
    Console::gotoXY(0, 11);
    Console::print("Day(s): ");
    Console::print("%d", d);
    ProfileRecord& r = records[static_cast<size_t>(d - 1)];
    link_.readDayProfile(t, &r);
    if (r.blockStatus != kAck && r.blockStatus != kNak) r.time = t;  // not read (Esc): its day, marked so
    kept.tm_mday -= 1;
    t = fromLocalTm(kept);
  }

  int selected = 0, top = 0;
  bool redraw = true;
  for (;;) {
    if (redraw) {
      redraw = false;
      Console::gotoXY(0, 8);
      Console::print(" <S> - Запись профиля в файл.");
      Console::clearLines(12, 21);
      Console::gotoXY(0, 12);
      Console::print(" Мощность[Вт*ч]:  P+            P-            Q+            Q-\n");
    }
    for (int i = top; i < top + kListRows && i < days; ++i) {
      const ProfileRecord& r = records[static_cast<size_t>(i)];
      std::tm tm;
      if (!localTime(r.time, &tm)) {
        Console::print("  Error Time\n");
        continue;
      }
      std::strftime(text, sizeof text, "  %Y-%m-%d ", &tm);
      Console::print("%s", text);
      if (i == selected) Console::setColor(kAttrSelected);
      if (r.blockStatus == kAck) {
        Console::print("%13.2f %13.2f %13.2f %13.2f\n", r.sums[0], r.sums[1], r.sums[2], r.sums[3]);
      } else if (r.blockStatus == kNak) {
        Console::print("------------- ------------- ------------- -------------\n");
      } else {
        Console::print("-no-response- ------------- ------------- -------------\n");
      }
      if (i == selected) Console::setColor(kAttrNormal);
    }
    int key = readScreenKey();
    bool afterDetail = false;
    if (key == 'S' || key == 's') writeProfileFile(days, records.get(), deviceTime);  // read at its clock's time
    if (key == kKeyEnter && selected < days && records[static_cast<size_t>(selected)].blockStatus != kNak) {
      profileDetail(records[static_cast<size_t>(selected)]);
      redraw = true;
      afterDetail = true;
    }
    Console::clearLines(13, 20);
    Console::gotoXY(0, 13);
    if (!afterDetail && (key == kKeyEsc || key == kKeySpace)) return 0;
    if (key == kScanUp) {
      if (selected > 0) {
        --selected;
        if (selected < top) --top;
      }
    } else if (key == kScanDown) {
      if (selected + 1 < days) {
        ++selected;
        if (selected + 1 > top + kListRows) ++top;
      }
    }
  }
}

void MeterMenu::profileDetail(const ProfileRecord& day) {
  Console::clearLines(8, 1);
  Console::clearLines(12, 21);
  Console::gotoXY(0, 12);
  Console::print(" Мощность[Вт*ч]:  P+         P-         Q+         Q-\n");
  int first = 0;
  for (;;) {
    for (int s = first + 1; s <= first + kDetailRows; ++s) {
      Console::print("%s", slotLabel(s).c_str());
      const ProfileEntry& e = day.entries[s - 1];
      if (!e.present) {
        Console::print("---------- ---------- ---------- ----------\n");
      } else {
        Console::print("%10.2f %10.2f %10.2f %10.2f\n", e.values[0], e.values[1], e.values[2], e.values[3]);
      }
    }
    int key = readScreenKey();
    Console::clearLines(13, 20);
    Console::gotoXY(0, 13);
    switch (key) {
      case kKeyEsc: case kKeyEnter: case kKeySpace:
        return;
      case kScanUp:
        if (first > 0) --first;
        break;
      case kScanDown:
        if (first + kDetailRows < kScreenSlots) ++first;
        break;
      case kScanPgUp:
        first = first - kDetailRows < 0 ? 0 : first - kDetailRows;
        break;
      case kScanPgDn:
        first += kDetailRows;
        if (first + kDetailRows > kScreenSlots) first = kScreenSlots - kDetailRows;
        break;
      default:
        break;
    }
  }
}

int MeterMenu::writeProfileFile(int days, const ProfileRecord* records, int64_t readingTime) {
  Console::clearLines(9, 2);
  Console::gotoXY(0, 9);
  Console::print("Введите имя файла:");
  char name[256] = "";
  int answer = Console::readLine("", kEditMax, name);
  Console::clearLines(9, 1);
  if (answer == kKeyEsc) return -1;  // the operator changed his mind: nothing written
  std::filesystem::path path;
  if (!pathOfName(name, &path)) {  // a name no file can have: he types another
    cannotWrite();
    return -1;
  }

  std::string text;
  appendf(text, "Модемный номер: %u\n", static_cast<unsigned>(link_.deviceAddress));
  std::tm tm;
  char stamp[80] = "DT: No Time ";
  if (localTime(readingTime, &tm)) std::strftime(stamp, sizeof stamp, "Дата/время: %Y-%m-%d,%H:%M:%S\n", &tm);
  appendf(text, "%s", stamp);
  appendf(text, "S/N: %06X\n", static_cast<unsigned>(link_.readSerialNumber(1)));
  link_.readVersion(0);
  appendf(text, "Ver: %d.%d.%d\n\n", link_.versionMajor, link_.versionMinor, link_.versionBuild);

  ProfileRecord totals;
  if (link_.readTotalsSinceStart(&totals) == 0) {
    text += "#Параметры от начала эксплуатации.\n";
    text += "#Энергия [кВт]:  P+            P-            Q+            Q-\n       ";
    for (double s : totals.sums) appendf(text, "%13.2f ", s * 0.001);
    text += "\n";
  } else {
    Console::print("\nОшибка запроса параметров от начала эксплуатации.\n");
  }

  for (int d = 0; d < days; ++d) {
    const ProfileRecord& r = records[d];
    if (!localTime(r.time, &tm)) {
      Console::print("  Error Time\n");
      continue;
    }
    std::strftime(stamp, sizeof stamp, "\n\nData: %Y-%m-%d \n", &tm);
    text += stamp;
    if (r.blockStatus != kAck && r.blockStatus != kNak) {
      text += "#День не считан.\n";  // the reading of this day was cancelled
      continue;
    }
    text += "#Мощность[Вт*ч]:     P+         P-         Q+         Q-\n";
    for (int s = 1; s <= kProfileSlots; ++s) {
      const ProfileEntry& e = r.entries[s - 1];
      if (!e.present) continue;
      text += slotLabel(s);
      appendf(text, "%10.1f %10.1f %10.1f %10.1f\n", e.values[0], e.values[1], e.values[2], e.values[3]);
    }
  }

  // Written to a temporary file beside the name and put in place only when
  // complete, so a listing that was there survives a failed write.
  if (writeWholeFile(name, listingBytes(text)) != WriteResult::kWritten) {
    cannotWrite();
    return -1;
  }
  Console::gotoXY(0, 9);
  Console::print("Файл записан.");
  return 0;
}

}  // namespace qs
