#include "meter/meter_menu.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "console/bytes.h"
#include "console/console.h"
#include "console/number_text.h"
#include "devlink/dev_link.h"
#include "devlink/local_time.h"
#include "platform/time.h"

namespace qs {
const char* deviceTypeName(int type) {
  switch (type) {
    case 0: return "3Ф3П( 57В)";
    case 1: return "3Ф4П(220В)";
    case 2: return "3Ф3П(127В)";
    case 3: return "Не определен";
    default: return "";
  }
}

namespace {

const char* const kValueNames[16] = {"P+", "P-", "Q+", "Q-", "S ", "F ", "Ia", "Ib",
                                     "Ic", "Va", "Vb", "Vc", "T ", "14", "15", "16"};

const char* const kMenuLines[] = {
    "\r\n <1>  - Текущие параметры.",
    "\r\n <2>  - Выбрать другой прибор УСО.",
    "\r\n <3>  - Параметры от начала эксплуатации.",
    "\r\n <4>  - Параметры от начала месяца.",
    "\r\n <5>  - Профиль.",
    "\r\n <6>  - Изменить модемный адрес.",
    "\r\n <7>  - Изменить модемный адрес по серийному номеру.",
    "\r\n <9>  - Коррекция времени.",
    "\r\n <T>  - Тест линии (УСО).",
    "\r\n <K>  - Коэфф. трансформации по I и U.",
    "\r\n<Esc> - Выход.",
};

// A key, with the 0xE0 prefix of cursor keys skipped.
int readScreenKey() {
  int key = Console::readKey();
  if (key == kKeyPrefixCursor) key = Console::readKey();
  return key;
}

// Reads a hexadecimal entry; false on Esc, when nothing was typed, or when
// the text is not wholly a hexadecimal number up to `largest` (said, and
// nothing is sent to a device for it).
bool readHex(const char* prompt, int maxLen, const char* what, unsigned long largest, long* value) {
  char text[16] = "";
  if (Console::readLine(prompt, maxLen, text) == kKeyEsc || text[0] == '\0') return false;
  std::optional<unsigned long> typed = parseHex(text, largest);
  if (!typed) {
    Console::print("\n%s \xC2\xAB%s\xC2\xBB: нужно шестнадцатеричное число от 0 до %lX.\n", what, text, largest);
    readScreenKey();
    return false;
  }
  *value = static_cast<long>(*typed);
  return true;
}

}  // namespace

int MeterMenu::run() {
  Console::clearLines(2, 25);
  showHeader();
  for (;;) {
    Console::clearLines(2, 18);
    for (const char* line : kMenuLines) {
      if (std::strstr(line, "<9>") != nullptr && verificationOffered())
        Console::print("%s", verificationMenuLine());
      Console::print("%s", line);
    }
    int key = Console::readKey();
    Console::clearLines(19, 18);
    switch (key) {
      case '1': currentParameters(); break;
      case '2': case 's': case 'S': selectDevice(); break;
      case '3': energyRegisters(true); break;
      case '4': energyRegisters(false); break;
      case '5': profile(); break;
      case '6': changeAddress(); break;
      case '7': changeAddressBySerial(); break;
      case '9': correctTime(); break;
      case '8':
        if (verificationOffered()) installationThenVerification();
        break;
      case 'T': case 't':
        Console::clearLines(37, 1);
        lineTest();
        refreshIdentity();
        break;
      case 'K': case 'k': transformCoefficients(); break;
      case '0': formatProfile(); break;
      case kKeyEsc:
        Console::clearLines(2, 25);
        return kKeyEsc;
      default:
        if (key >= kScanF1 && key <= kScanF1 + 8) return key;
        break;
    }
  }
}

void MeterMenu::showHeader() {
  int type = link_.cachedDeviceType;
  ConsolePos saved = Console::getCursor();
  Console::clearLines(0, 1);
  Console::print("Type: ");
  Console::print("%s%s", deviceTypeName(type), *deviceTypeName(type) != '\0' ? " " : "");
  Console::print("SN: %06X ", static_cast<unsigned>(link_.cachedSerial));
  Console::gotoXY(0, 1);
  Console::print("Мод.ном: %02Xh                    ", static_cast<unsigned>(link_.deviceAddress));
  Console::setCursor(saved);
}

void MeterMenu::refreshIdentity() {
  Console::clearLines(16, 1);
  link_.readAllCoefficients();
  link_.writeCoefficient(15, 0.024);
  link_.readSerialNumber(1);
  link_.readVersion(1);
  link_.readDeviceType(1);
  showHeader();
}

void MeterMenu::identifyDevice() {
  link_.readAllCoefficients();
  link_.readSerialNumber(1);
  link_.readVersion(1);
  link_.readDeviceType(1);
}

void MeterMenu::currentParameters() {
  int64_t t = 0;
  if (link_.readDeviceTime(&t) != 0) {
    Console::print("\nОшибка запроса времени.\n");
    return;
  }
  Console::print("\nТекущие параметры.\n\n");
  char text[80] = "";
  std::tm tm;
  if (localTime(t, &tm)) std::strftime(text, sizeof text, "  DT: %Y-%m-%d, %H:%M:%S\n", &tm);
  Console::print("%s  ", text);
  double values[16];
  if (link_.readCurrentValues(values) != 0) {
    Console::print("Ошибка запроса текущих параметров.\n");
    return;
  }
  for (int i = 0; i < 6; ++i) Console::print("%s: %4.2f ", kValueNames[i], values[i]);
  Console::print("\n  ");
  for (int i = 6; i < 12; ++i) Console::print("%s: %4.2f ", kValueNames[i], values[i]);
  Console::print("\n");
}

void MeterMenu::energyRegisters(bool sinceStart) {
  ProfileRecord record;
  int r = sinceStart ? link_.readTotalsSinceStart(&record) : link_.readTotalsThisMonth(&record);
  if (r == kNoCoefficients) {
    Console::print("\nОшибка чтения калибровочных коэффициентов.\n");
    return;
  }
  if (r != 0) {
    Console::print(sinceStart ? "\nОшибка запроса параметров от начала эксплуатации.\n"
                              : "\nОшибка запроса параметров от начала месяца.\n");
    return;
  }
  Console::print(sinceStart ? "\nПараметры от начала эксплуатации.\n\n" : "\nПараметры от начала месяца. \n\n");
  Console::print("Энергия [кВт]:   P+            P-            Q+            Q-\n       ");
  for (double s : record.sums) Console::print("%13.2f ", s * 0.001);
  Console::print("\n");
}

void MeterMenu::selectDevice() {
  long address;
  if (!readHex("Введите модемный адрес другова прибора УСО: ", 3, "Адрес", 0xFF, &address)) return;
  link_.selectAddress(static_cast<uint8_t>(address));
  refreshIdentity();
}

void MeterMenu::changeAddress() {
  long address;
  if (!readHex("Введите новый модемный адрес: ", 3, "Адрес", 0xFF, &address)) return;
  if (link_.changeAddress(static_cast<uint8_t>(address)) != 0) {
    Console::clearLines(16, 1);
    Console::print("Ошибка при смене модемного адреса.\n");
    Console::readKey();
    return;
  }
  refreshIdentity();
}

void MeterMenu::changeAddressBySerial() {
  long serial, address;
  if (!readHex("Введите серийный номер: ", 6, "Серийный номер", 0xFFFFFF, &serial)) return;
  if (!readHex("\nВведите новый модемный адрес: ", 3, "Адрес", 0xFF, &address)) return;
  if (link_.changeAddressBySerial(static_cast<uint8_t>(address), static_cast<uint32_t>(serial)) != 0) {
    Console::clearLines(19, 2);
    Console::print("Ошибка при смене модемного адреса.\n");
    Console::readKey();
    return;
  }
  refreshIdentity();
  Console::clearLines(19, 2);
  Console::print("\nМодемный адрес был изменен.\n");
}

void MeterMenu::correctTime() {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  Console::clearLines(20, 1);
  if (link_.setDeviceTime(now) == 0) Console::print("Коррекция времени выполнена. \n");
  else Console::print("Ошибка коррекции времени.\n");
}

bool MeterMenu::showRatios() {
  long u = link_.readRatioU();
  long i = link_.readRatioI();
  if (u < 0 || i < 0) {
    Console::print("Ошибка: Чтения Коэффициентов трансформации.");
    Console::readKey();
    Console::clearLines(3, 16);
    return false;
  }
  Console::print("\nКоэф. транс. U: %04u     изменить - < 1 >", static_cast<unsigned>(u));
  Console::print("\nКоэф. транс. I: %04u     изменить - < 2 >", static_cast<unsigned>(i));
  return true;
}

int MeterMenu::transformCoefficients() {
  Console::clearLines(3, 16);
  Console::print("Коэффициенты трансформации по U и I:");
  Console::gotoXY(0, 4);
  if (!showRatios()) return 0;
  for (;;) {
    int key = readScreenKey();
    if (key == kKeyEsc) {
      Console::clearLines(3, 16);
      return 0;
    }
    if (key == '1' || key == '2') {
      char prompt[] = "Введите новый коэф. транс. по U: ";
      prompt[std::strlen(prompt) - 3] = key == '1' ? 'U' : 'I';
      Console::clearLines(8, 1);
      char text[8] = "";
      int r = Console::readLine(prompt, 4, text);
      Console::clearLines(8, 1);
      if (r != kKeyEsc && text[0] != '\0') {
        // A whole number as typed: 5x is not 5.
        std::optional<double> typed = parseDecimal(text);
        long value = typed && *typed == std::floor(*typed) && std::fabs(*typed) < 1e9 ? static_cast<long>(*typed) : 0;
        if (!typed || value != *typed) {
          Console::print("Ошибка: коэффициент трансформации \xC2\xAB%s\xC2\xBB не целое число.", text);
        } else if (value < 1) {
          Console::print("Ошибка: Коэффициент трансформации должен быть больше нуля.");
        } else if (key == '1') {
          link_.writeRatioU(static_cast<unsigned>(value));
        } else {
          link_.writeRatioI(static_cast<unsigned>(value));
        }
      }
    } else {
      continue;
    }
    Console::gotoXY(0, 4);
    if (!showRatios()) return 0;
  }
}

int MeterMenu::scanLine(int row) {
  uint8_t remembered = link_.deviceAddress;
  bool cancelled = false;
  for (int i = 0; i < kScanEntries && !cancelled; ++i) {
    if (Console::keyPending() && Console::readKey() == kKeyEsc) {
      cancelled = true;
      break;
    }
    char* entry = scanList[i];
    std::snprintf(entry, kScanEntryLength, "%02u", static_cast<unsigned>(i));
    Console::gotoXY(0, row);
    Console::print("Dev: %s", entry);
    link_.selectAddress(toBcd(i));
    bool found = false;
    long text = link_.readSerialText(1);
    if (text == -27) {
      cancelled = true;
      break;
    }
    size_t used = std::strlen(entry);
    if (text != -1) {
      std::snprintf(entry + used, kScanEntryLength - used, "\tS/N: %X", static_cast<unsigned>(text));
      found = true;
    }
    long serial = link_.readSerialNumber(1);
    if (serial == -27) {
      cancelled = true;
      break;
    }
    if (serial != -1) {
      const char* word = nullptr;
      used = std::strlen(entry);
      if (link_.readWord(28, &word) == 0) {
        std::snprintf(entry + used, kScanEntryLength - used, " + LMX: ver: %c.%c.%c", word[1], word[2], word[3]);
      } else {
        std::snprintf(entry + used, kScanEntryLength - used, " + LMX: unknown version");
      }
      found = true;
    }
    if (!found) {
      used = std::strlen(entry);
      std::snprintf(entry + used, kScanEntryLength - used, " No Device\t\t\t   ");
    }
  }
  Console::gotoXY(0, row);
  link_.selectAddress(remembered);
  return cancelled ? kKeyEsc : 0;
}

int MeterMenu::lineTest() {
  Console::clearLines(2, 16);
  Console::print("Тест линии.\n\t<T> - Повторить тест.");
  if (scanned == 0) {
    if (scanLine(4) == kKeyEsc) {
      Console::clearLines(2, 32);
      Console::gotoXY(0, 4);
      return kKeyEsc;
    }
    scanned = 1;
  }
  int selected = 0, top = 0, result = 0;
  Console::clearLines(4, 30);
  Console::gotoXY(0, 4);
  for (;;) {
    for (int i = top; i < top + 30 && i < kScanEntries; ++i) {
      Console::print("   ");
      if (i == selected) Console::setColor(kAttrSelected);
      Console::print("%s\n", scanList[i]);
      if (i == selected) Console::setColor(kAttrNormal);
    }
    int key = readScreenKey();
    if (key == kKeyEnter) {
      char digits[3] = {scanList[selected][0], scanList[selected][1], '\0'};
      link_.selectAddress(static_cast<uint8_t>(std::strtol(digits, nullptr, 16)));
      link_.readSerialNumber(1);
      link_.readDeviceType(1);
      showHeader();
      result = 1;
      break;
    }
    Console::clearLines(4, 30);
    Console::gotoXY(0, 4);
    if (key == kKeyEsc || key == kKeySpace) {
      result = 0;
      break;
    }
    switch (key) {
      case kScanUp:
        if (selected > 0) {
          --selected;
          if (selected < top) --top;
        }
        break;
      case kScanDown:
        if (selected + 1 < kScanEntries) {
          ++selected;
          if (selected + 1 > top + 30) ++top;
        }
        break;
      case kScanPgUp:
        if (selected > 0) {
          selected = selected - 30 < 0 ? 0 : selected - 30;
          top = top - 30 < 0 ? 0 : top - 30;
          if (selected < top) top = selected;
        }
        break;
      case kScanPgDn:
        if (selected + 1 < kScanEntries) {
          selected += 30;
          top = top + 30 < 70 ? top + 30 : 70;
          if (selected > 99) selected = 99;
        }
        break;
      case 'T': case 't':
        scanLine(4);
        break;
      default:
        break;
    }
  }
  Console::clearLines(2, 32);
  Console::gotoXY(0, 4);
  return result;
}

void MeterMenu::formatProfile() {
  Console::clearLines(19, 1);
  Console::print("Вы уверены, что хотите отформатитровать таблицы профиля (Y/N):\n");
  int key = Console::readKey();
  Console::clearLines(19, 1);
  Console::clearLines(20, 1);
  if (key != 'Y' && key != 'y') return;
  if (link_.startProfileFormat() != 0) {
    Console::print("Ошибка запроса на форматитрование таблицы профиля.\n");
    return;
  }
  uint32_t n = 1, k = 0, offset = 0;
  double shown = -1.0;
  int failures = 0;
  platform::sleepMs(500);
  for (;;) {
    double percent = std::fabs((static_cast<double>(k) + offset) / (2.0 * n)) * 100.0;
    platform::sleepMs(100);
    int r = link_.pollProfileFormat(&k, &n);
    if (r == 1) {
      Console::print("Формат таблицы профиля выполнен.               \n");
      return;
    }
    if (r < 0) {
      if (++failures > 10) {
        Console::print("Error TimeOut опрерации форматирование таблицы профиля.\n");
        return;
      }
      platform::sleepMs(1);
      continue;
    }
    failures = 0;
    if (n == 0) n = 1;  // a report of no tables must not divide by zero
    if (shown > percent) {
      offset = n;
      percent = std::fabs((static_cast<double>(k) + n) / (2.0 * n)) * 100.0;
    }
    shown = percent;
    Console::print("Формат: %u%%  \r", static_cast<unsigned>(percent));
  }
}

}  // namespace qs
