// The telemechanics settings screens and the TI scales.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "console/console.h"
#include "console/number_text.h"
#include "devlink/dev_link.h"
#include "uso/uso_screen.h"

namespace qs {

namespace {

// A number typed by the operator as a 16-bit setting: truncated toward zero
// and held to what 16 bits can carry.
uint16_t toSetting(double value) {
  if (!(value > 0)) return 0;
  if (value >= 65535.0) return 65535;
  return static_cast<uint16_t>(value);
}

}  // namespace

// ---- TI scales ----------------------------------------------------------------

void UsoScreen::loadScales() {
  for (double& m : scaleMax) m = 10.0;
  std::ifstream in(kScaleFile, std::ios::binary);
  if (!in) return;
  for (double& m : scaleMax) {
    unsigned char b[8];
    if (!in.read(reinterpret_cast<char*>(b), 8)) break;  // a value not held completely keeps 10.0
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
    std::memcpy(&m, &bits, 8);
  }
}

void UsoScreen::saveScales() const {
  std::ofstream out(kScaleFile, std::ios::binary | std::ios::trunc);
  if (!out) return;  // not reported: the limits stay in memory
  for (double m : scaleMax) {
    uint64_t bits;
    std::memcpy(&bits, &m, 8);
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
    out.write(reinterpret_cast<const char*>(b), 8);
  }
}

double UsoScreen::scaled(uint16_t raw, int channel) const {
  double k = scaleMax[channel] / fullScale[channel];
  if (raw < 0x8000) return k * raw;
  return -(k * (65536 - raw));
}

// ---- settings screens -------------------------------------------------------------

int UsoScreen::changeModemNumber() {
  DeviceState& s = *state;
  Console::clearLines(14, 20);
  char digits[16];
  for (;;) {
    Console::clearLines(17, 1);
    digits[0] = '\0';
    if (Console::readDigits("Введите новый модемный номер:", digits, sizeof digits) == kKeyEsc) return kKeyEsc;
    if (digits[0] == '\0') return 0;
    if (std::strlen(digits) <= 2 && isDecimalText(digits) == 0) break;
    Console::clearLines(14, 1);
    Console::print("Неправильный модемный номер.");
  }
  uint8_t newAddress = static_cast<uint8_t>(std::strtoul(digits, nullptr, 16));
  if (link.readSerialNumber(1) != -1) {
    // The device speaks the device-link protocol.
    if (link.changeAddress(newAddress) != 0) {
      Console::clearLines(16, 1);
      Console::print("Ошибка при смене модемного адреса.\n");
      Console::readKey();
      return -1;
    }
    Console::clearLines(16, 1);
    link.readDeviceType(1);
    link.readSerialNumber(1);
    link.readVersion(1);
  } else {
    if (!exchange(0x60)) {
      Console::clearLines(14, 1);
      Console::print("Ошибка! чтения адреса и скорости.");
      Console::readKey();
      return -1;
    }
    if (!exchange(0x4A, newAddress, s.addressExtra)) {
      Console::clearLines(14, 1);
      Console::print("Ошибка! смены модемного номера.");
      Console::readKey();
      return -1;
    }
  }
  s.address = newAddress;
  link.deviceAddress = newAddress;
  drawView();
  return 0;
}

bool UsoScreen::askDigits(const char* prompt, const char* refusal,
                          const std::function<bool(const std::string&)>& take) {
  for (;;) {
    Console::clearLines(17, 1);
    Console::gotoXY(0, 17);
    char digits[32] = "";
    if (Console::readDigits("%s", digits, sizeof digits, prompt) == kKeyEsc || digits[0] == '\0') return false;
    if (take(digits)) return true;
    Console::clearLines(18, 1);
    Console::print("\xC2\xAB%s\xC2\xBB: %s.", digits, refusal);
  }
}

void UsoScreen::setAveraging() {
  // Whole milliseconds: 1.5 is not taken as 1.
  askDigits("Ведите усреднения в мсек: ", "нужно целое число миллисекунд", [&](const std::string& text) {
    std::optional<double> ms = parseDecimal(text);
    if (!ms || *ms != std::floor(*ms) || *ms < 0 || *ms > 4294967295.0) return false;
    averagingMs = static_cast<uint32_t>(*ms);
    return true;
  });
  Console::clearLines(17, 2);
}

void UsoScreen::autoDelay() {
  DeviceState& s = *state;
  Console::clearLines(14, 20);
  if (!exchange(0x69)) {
    notify("Ошибка! при чтении задержки Авто.Вкл./Выкл.");
    return;
  }
  Console::clearLines(17, 1);
  char prompt[96];
  std::snprintf(prompt, sizeof prompt, "Введите время Авто.Вкл./Выкл. (%.1f сек): ", s.valueI);
  double value = s.valueI;
  if (Console::readNumber(prompt, &value) != kKeyEsc) s.valueI = value;
  Console::clearLines(17, 1);
  if (!exchange(0x68)) notify("Ошибка! при записи задержки Авто.Вкл./Выкл.");  // written back also after Esc, unchanged
  Console::clearLines(14, 3);
}

struct UsoScreen::TableScreen {
  int readCode, writeCode, entries;
  bool skipFunctionPrefix;
  const char* title;
  const char* readError;
  const char* writeError;
  void (*line)(const DeviceState&, int entry);
  void (*edit)(DeviceState&, int entry);  // Enter or Space on an entry
};

void UsoScreen::tableScreen(const TableScreen& t) {
  DeviceState& s = *state;
  Console::clearLines(14, 20);
  if (!exchange(t.readCode)) {
    notify(t.readError);
    return;
  }
  Console::gotoXY(0, 15);
  Console::print("%s", t.title);
  Console::print("---------------------------------------------");
  int selected = 0;
  for (;;) {
    Console::gotoXY(0, 17);
    for (int i = 0; i < t.entries; ++i) {
      Console::setColor(i == selected ? kAttrSelected : kAttrNormal);
      t.line(s, i);
    }
    Console::setColor(kAttrNormal);
    Console::print("<Enter> - Изменить значение.");
    Console::print("\n <S>  - Выход (с записью уставок).");
    Console::print("\n<ESC> - Выход (без записи).");
    int key = Console::readKey();
    if (key == kKeyPrefixCursor || (t.skipFunctionPrefix && key == kKeyPrefixFunction)) key = Console::readKey();
    Console::clearLines(14, 1);
    switch (key) {
      case kKeyEnter:
      case kKeySpace:
        Console::clearLines(17 + selected, 1);
        t.edit(s, selected);
        Console::clearLines(17 + selected, 1);
        break;
      case kScanUp:
        if (selected > 0) --selected;
        break;
      case kScanDown:
        if (selected + 1 < t.entries) ++selected;
        break;
      case kScanPgUp:
        selected = selected - 4 < 0 ? 0 : selected - 4;
        break;
      case kScanPgDn:
        selected = selected + 4 > t.entries - 1 ? t.entries - 1 : selected + 4;
        break;
      case 'S':
      case 's':
        if (exchange(t.writeCode)) {
          Console::clearLines(15, 2);
          return;
        }
        Console::clearLines(14, 1);
        Console::print("%s", t.writeError);
        break;
      case kKeyEsc:
        Console::clearLines(15, 2);
        return;
      default:
        break;
    }
  }
}

void UsoScreen::analysisTimes() {
  static const TableScreen kTable{
      0x53, 0x51, 8, false, "Уставки времени анализа ТИ каналов.\n", "Ошибка! при чтении времени анализа ТИ каналов.",
      "Ошибка! при записи времени анализа ТИ каналов.",
      [](const DeviceState& s, int i) {
        Console::print(" %u. время анализа: %7.1f сек     \n", static_cast<unsigned>(i + 1), s.valuesS[i] * 0.1);
      },
      [](DeviceState& s, int i) {
        char prompt[64];
        std::snprintf(prompt, sizeof prompt, " %u. введите время анализа: ", static_cast<unsigned>(i + 1));
        double value = s.valuesS[i] * 0.1;
        if (Console::readNumber(prompt, &value) != kKeyEsc) s.valuesS[i] = toSetting(value * 10);
      }};
  tableScreen(kTable);
}

void UsoScreen::debounceTimes() {
  static const TableScreen kTable{
      0x65, 0x52, 16, true, "Уставки времени дребезга ТС каналов.\n", "Ошибка! при чтении времени дребезга ТС каналов.",
      "Ошибка! при записи времени дребезга ТС каналов.",
      [](const DeviceState& s, int i) {
        Console::print(" %02u. время дребезга: %7u мсек     \n", static_cast<unsigned>(i + 1),
                       static_cast<unsigned>(s.valuesE[i]));
      },
      [](DeviceState& s, int i) {
        char prompt[64];
        std::snprintf(prompt, sizeof prompt, " %02u. введите время дребезга: ", static_cast<unsigned>(i + 1));
        double value = s.valuesE[i];
        if (Console::readNumber(prompt, &value) != kKeyEsc) s.valuesE[i] = toSetting(value);
      }};
  tableScreen(kTable);
}

void UsoScreen::polarityMask() {
  static const TableScreen kTable{
      0x67, 0x66, 16, true, "Уставки полярности ТС каналов.\n", "Ошибка! чтения маски полярности ТС каналов.",
      "Ошибка! записи маски полярности ТС каналов.",
      [](const DeviceState& s, int i) {
        Console::print(" %02u. полярность: ", static_cast<unsigned>(i + 1));
        Console::print((s.valueG >> i) & 1u ? "+ \n" : "- \n");
      },
      [](DeviceState& s, int i) { s.valueG ^= static_cast<uint16_t>(1u << i); }};
  tableScreen(kTable);
}

void UsoScreen::channelSelection() {
  DeviceState& s = *state;
  Console::clearLines(14, 20);
  Console::gotoXY(0, 17);
  if (s.scaleMode == 4) {  // 32 mode: one limit for every channel, not saved
    askDigits("Ведите значение верхнего предела шкалы: ", "нужно число", [&](const std::string& text) {
      std::optional<double> limit = parseDecimal(text);
      if (!limit) return false;
      for (double& m : scaleMax) m = *limit;
      return true;
    });
    Console::clearLines(17, 2);
    return;
  }
  Console::print("\r\n Выбор каналов.");
  Console::print("\r\n---------------------------------------------");
  Console::print("\r\n <0>  - Все Каналы.");
  for (int i = 1; i <= 8; ++i) Console::print("\r\n <%d>  - Канал.", i);
  Console::print("\r\n Выберите настройки и нажмите клавишу");
  Console::print("\r\n\t\t<Enter> - все каналы.");
  Console::print("\r\n\t\t<Space> - поканально.");
  uint8_t selection = 0;
  if (exchange(0x5C)) {
    selection = static_cast<uint8_t>(s.tiSelection & 0xFF);
  } else {
    Console::gotoXY(0, 14);
    Console::print("Ошибка! при чтении каналов.                    ");
  }
  auto mark = [&](int i) {
    Console::gotoXY(0, 20 + i);
    Console::putChar((selection >> (i - 1)) & 1u ? '+' : ' ');
  };
  for (int i = 1; i <= 8; ++i) {
    Console::gotoXY(18, 20 + i);
    Console::print(" макс: %.2f", scaleMax[i - 1]);
    mark(i);
  }
  int key;
  for (;;) {
    key = Console::readKey();
    if (key >= '1' && key <= '8') {
      selection ^= static_cast<uint8_t>(1u << (key - '1'));
      mark(key - '0');
    } else if (key == '0') {
      selection = selection == 0xFF ? 0 : 0xFF;
      for (int i = 1; i <= 8; ++i) mark(i);
    } else if (key == kKeyEnter || key == kKeySpace) {
      break;
    } else if (key == kKeyEsc) {
      return;
    }
  }
  if (key == kKeyEnter) {
    Console::gotoXY(0, 30);
    Console::print("Введите максимальную величину шкалы");
    char prompt[48];
    std::snprintf(prompt, sizeof prompt, " %.2f:", scaleMax[0]);
    double value = scaleMax[0];
    if (Console::readNumber(prompt, &value) == kKeyEsc) return;
    for (int c = 0; c < 8; ++c) scaleMax[c] = value;
  } else {
    for (int i = 1; i <= 8; ++i) {
      if (!((selection >> (i - 1)) & 1u)) continue;
      Console::gotoXY(18, 20 + i);
      Console::print("мак. вел. шкалы");
      char prompt[48];
      std::snprintf(prompt, sizeof prompt, " %.2f:", scaleMax[i - 1]);
      double value = scaleMax[i - 1];
      if (Console::readNumber(prompt, &value) == kKeyEsc) return;
      scaleMax[i - 1] = value;
    }
  }
  saveScales();
}

}  // namespace qs
