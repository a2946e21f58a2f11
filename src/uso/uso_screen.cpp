// The telemechanics main screen: identification, live views, TU switching
// and the service menu.
#include "uso/uso_screen.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channel/channel.h"
#include "console/bytes.h"
#include "console/console.h"
#include "console/number_text.h"
#include "devlink/dev_link.h"
#include "eeprom/eeprom_editor.h"
#include "platform/time.h"

namespace qs {
namespace {

constexpr char kSignature[] = "YCOTM";
constexpr int kSignatureAddress = 0x740;
constexpr int kModulesAddress = 0x20;
constexpr int kIdentifyAttempts = 5;

// Takes `bits` bits for a module from the next free place of `presence`.
void addModule(uint32_t& presence, int& next, int bits) {
  for (int i = 0; i < bits && next < 32; ++i) presence |= 1u << next++;
}

}  // namespace

UsoScreen::UsoScreen(DevLink& devLink) : state(devLink.state.get()), channel(devLink.channel.get()), link(devLink) {
  state->viewMode = kViewMeterMenu;
  for (int c = 0; c < kTiChannels; ++c) fullScale[c] = 4095.0;
  loadScales();
  averagingMs = 500;
  channelsPerRow = 8;
  state->scaleMode = 2;
  state->fillByte = 5;
  state->tiMaskBytes = 4;
  state->tuWidth = 2;
  state->tsGroupCount = 2;
  sampleCount = 0;
  windowStart = platform::tickCount();
  selectView(1);
}

void UsoScreen::selectView(int scanCode) {
  if (scanCode == 0) {
    scanCode = Console::readKey();
    identify();
  }
  DeviceState& s = *state;
  switch (scanCode) {
    case kScanF1:
      s.viewMode = kViewTi;
      s.tuView = 0;
      sampleCount = 0;
      windowStart = platform::tickCount();
      break;
    case kScanF1 + 1:
      s.viewMode = kViewTs;
      s.tuView = 0;
      break;
    case kScanF1 + 2:
      s.viewMode = kViewMeterMenu;
      s.tuView = 0;
      break;
    case kScanF1 + 3:
      s.viewMode = kViewTemperature;
      s.tuView = 0;
      break;
    case kScanF1 + 5:
      s.viewMode = kViewTu;
      s.tuView = 1;
      break;
    default:
      break;
  }
  drawView();
}

int UsoScreen::identify() {
  DeviceState& s = *state;
  s.tiMaskBytes = 4;
  s.tuWidth = 2;
  s.tsGroupCount = 2;
  s.tiPresence = 0xFFFFFFFFu;
  s.tsPresence = 0xFFFF;
  s.tuPresence = 0xFFFF;
  int attempts = 0;
  for (;;) {
    sendRequest(s, 0x6F, kSignatureAddress, 5);
    receiveResponse(s);
    s.textBuffer[5] = '\0';
    if (s.status == kAck && std::memcmp(s.textBuffer.data(), kSignature, 5) == 0) break;
    if (++attempts > kIdentifyAttempts) return -2;
  }
  for (;;) {
    sendRequest(s, 0x6F, kModulesAddress, 4);
    if (receiveResponse(s) == 0 && s.receivedLength >= 6 + 2 + 4) break;
    if (++attempts > kIdentifyAttempts) return -3;
  }
  s.tsPresence = s.tiPresence = s.tuPresence = 0;
  int ts = 0, ti = 0, tu = 0;
  for (int slot = 0; slot < 4; ++slot) {
    uint8_t b = static_cast<uint8_t>(s.textBuffer[static_cast<size_t>(slot)]);
    if ((b & 0xF0) > 0x60) continue;  // an empty slot
    switch (b & 0x03) {
      case 1: addModule(s.tsPresence, ts, 8); break;
      case 2: addModule(s.tuPresence, tu, 3); break;
      case 3: addModule(s.tiPresence, ti, 8); break;
      default: break;
    }
  }
  return 0;
}

int UsoScreen::readSerial() {
  DeviceState& s = *state;
  sendRequest(s, 0x5F);
  receiveResponse(s);
  Console::clearLines(14, 1);
  if (s.status == kAck) {
    const uint8_t* p = s.frame + 4;
    bool digits = true;
    for (int i = 0; i < 6; ++i)
      if (p[i] < '0' || p[i] > '9') digits = false;
    if (digits) {
      std::memcpy(s.serialText, p, 6);
      s.serialText[6] = '\0';
    } else {
      std::snprintf(s.serialText, sizeof s.serialText, "%06x", static_cast<unsigned>(fromBigEndian(p + 3, 3)));
    }
    return 0;
  }
  notify("Ошибка! чтения S/N номера.");
  std::strcpy(s.serialText, "------");
  return -1;
}

void UsoScreen::notify(const std::string& text) { notice_ = text; }

void UsoScreen::showNotice() {
  if (notice_.empty()) return;
  Console::clearLines(kNoticeRow, 1);
  Console::print("%s", notice_.c_str());
  notice_.clear();
}

void UsoScreen::drawView() {
  DeviceState& s = *state;
  Console::gotoXY(0, 1);
  Console::clearLines(2, 15);
  switch (s.viewMode) {
    case kViewTi:
      Console::print("ТИ");
      Console::clearLines(3, 20);
      Console::print("      01:      02:      03:      04:      05:      06:      07:      08:");
      for (int g = 0; g < s.tiMaskBytes && g < 4; ++g) {
        Console::gotoXY(0, 5 + 3 * g);
        Console::print("%0u:", static_cast<unsigned>(g + 1));
      }
      break;
    case kViewTs:
      Console::print("ТС");
      Console::clearLines(3, 10);
      Console::print("          01: 02: 03: 04: 05: 06: 07: 08: 09: 10: 11: 12: 13: 14: 15: 16:\n");
      for (int g = 0; g < s.tsGroupCount && g < 2; ++g) {
        Console::print("Тек.сост:  \n");
        Console::print("Захват 0:  \n");
        Console::print("Захват 1:  \n");
        Console::print("\n");
      }
      break;
    case kViewTemperature:
      Console::print("Температура");
      Console::clearLines(4, 10);
      Console::print("Внутри:\n");
      Console::print("Снаружи:\n");
      break;
    case kViewTu:
      Console::print("ТУ");
      Console::clearLines(4, 20);
      Console::gotoXY(10, 4);
      Console::print("01: 02: 03: 04:");
      Console::print(" 05: 06: 07: 08: 09: 10: 11: 12: 13: 14: 15: 16:");
      Console::print("\nТек.сост:\n\n\n\n");
      Console::print("<1 - %c> - Изменить состояние каналов ТУ [1..10].\n", '0');
      Console::print("<1 - 6> + <SHIFT> - Изменить состояние каналов ТУ [11..16].\n");
      Console::print(" < С >  - Сброс маски.\n");
      Console::print("<Enter> - Отправить команду.\n\n");
      Console::print("Время включения ТУ: %u мсек.", static_cast<unsigned>(s.fillByte) * 100u);
      break;
    default:
      break;
  }
  Console::clearLines(0, 1);
  Console::gotoXY(0, 1);
  Console::print("Мод.ном: %02Xh  ", static_cast<unsigned>(s.address));
  Console::print("SN: %s", s.serialText);
  Console::gotoXY(0, 37);
  Console::print("<F1- ТИ> <F2- ТС> <F3- Счетч.> <F4- Темпер.> ");
  Console::print("<F6- ТУ> ");
}

void UsoScreen::drawValues() {
  DeviceState& s = *state;
  Console::gotoXY(17, 2);
  Console::putChar(s.status == kAck ? ' ' : '*');
  switch (s.viewMode) {
    case kViewTi: {
      ++sampleCount;
      for (int g = 0; g < s.tiMaskBytes && g < 4; ++g) {
        if (((s.tiPresence >> (8 * g)) & 0xFF) == 0) continue;
        Console::gotoXY(2, 5 + 3 * g);
        for (int j = 0; j < channelsPerRow && j < 8; ++j) Console::print("   %04Xh ", s.tiValues[8 * g + j]);
        Console::gotoXY(2, 6 + 3 * g);
        for (int j = 0; j < channelsPerRow && j < 8; ++j) {
          int c = 8 * g + j;
          sums[c] += scaled(s.tiValues[c], c);
          Console::print("%8.2f ", sums[c] / sampleCount);
        }
      }
      uint32_t now = platform::tickCount();
      if (now - windowStart > averagingMs) {
        sampleCount = 0;
        windowStart = now;
        for (double& sum : sums) sum = 0;
      }
      break;
    }
    case kViewTs:
      for (int g = 0; g < s.tsGroupCount && g < 2; ++g) {
        if (((s.tsPresence >> (16 * g)) & 0xFFFF) == 0) continue;
        const uint32_t rows[3] = {s.tsCurrent, s.tsLatch0, s.tsLatch1};
        for (int r = 0; r < 3; ++r) {
          Console::gotoXY(11, 4 + 4 * g + r);
          for (int i = 16 * g; i < 16 * g + 16; ++i) {
            if (s.tsPresence & (1u << i)) Console::print("%1u   ", static_cast<unsigned>((rows[r] >> i) & 1u));
            else Console::print("    ");
          }
        }
      }
      break;
    case kViewTemperature:
      Console::gotoXY(8, 4);
      Console::print("%5.1f ", static_cast<double>(s.halfValue));
      Console::gotoXY(8, 5);
      Console::print("%5.1f ", static_cast<double>(s.outsideTemperature));
      break;
    case kViewTu:
      Console::gotoXY(11, 5);
      for (int i = 0; i < 8 * s.tuWidth && i < 16; ++i) {
        if (s.tuPresence & (1u << i)) Console::print("%1u   ", static_cast<unsigned>((s.tuSelection >> i) & 1u));
        else Console::print("    ");
      }
      break;
    default:
      break;
  }
}

// TU view: handles keys until one that is not its own; returns that key,
// or -1 when a further key is already waiting for the service menu.
int UsoScreen::tuKeys() {
  DeviceState& s = *state;
  s.status = kAck;
  if (Console::keyPending()) return -1;
  static const char kShifted[] = "!@#$%^";
  for (;;) {
    drawValues();
    int key = Console::readKey();
    if (key == kKeyEnter) {
      sendRequest(s, 0x4C, s.tuPresence & s.tuSelection);
      receiveResponse(s);
      drawValues();
    } else if (key >= '1' && key <= '9') {
      s.tuSelection ^= static_cast<uint16_t>(1u << (key - '1'));
      s.status = kAck;
    } else if (key == '0' || key == '~') {
      s.tuSelection ^= 1u << 9;
      s.status = kAck;
    } else if (key != 0 && std::strchr(kShifted, key) != nullptr) {
      s.tuSelection ^= static_cast<uint16_t>(1u << (10 + (std::strchr(kShifted, key) - kShifted)));
      s.status = kAck;
    } else if (key == 'c' || key == 'C') {
      s.tuSelection = 0;
      s.status = kAck;
    } else {
      return key;
    }
    if (Console::keyPending()) return -1;
  }
}

int UsoScreen::run() {
  DeviceState& s = *state;
  if (s.viewMode == kViewMeterMenu) return 0;
  identify();
  for (;;) {
    readSerial();
    drawView();
    showNotice();
    int key;
    if (s.tuView == 1) {
      key = tuKeys();
    } else {
      while (!Console::keyPending()) {
        sendRequest(s, s.viewMode, 0xFFFFFFFFu);
        receiveResponse(s);
        drawValues();
      }
      key = Console::readKey();
    }
    if (key == kKeyPrefixFunction && Console::keyPending()) {
      selectView(0);
      if (s.viewMode == kViewMeterMenu) return 0;
      continue;
    }
    int r = serviceMenu(key);
    if (r >= 0) return r;
  }
}

// The service menu; -1 to go back to the live view, else run's result.
int UsoScreen::serviceMenu(int) {
  DeviceState& s = *state;
  Console::clearLines(15, 19);
  Console::gotoXY(0, 17);
  Console::print("Процесс остановлен.\r\n\n<Esc> - Выход из программы.");
  Console::print("\r\n <s>  - Изменить номер USO только в программе.");
  Console::print("\r\n <0>  - Изменить модемный номер USO.");
  Console::print("\r\n <e>  - Вкл./Выкл. 32/8 режим.");
  Console::print("\r\n <v>  - Доступ к eeprom.");
  Console::print("\r\n---------------------------------------------");
  switch (s.viewMode) {
    case kViewTu:
      Console::print("\r\n <T> - Задать время включения ТУ.\n");
      break;
    case kViewTs:
      Console::print("\r\n <C>  - Обнуление ТС(0,1).");
      Console::print("\r\n <1>  - Установить время дребезга ТС.");
      Console::print("\r\n <2>  - Установить маску полярности ТС(БСК).");
      break;
    case kViewTi:
      Console::print("\r\n <1>  - Настройка ТИ.");
      Console::print("\r\n <2>  - Выбор каналов/предел шкалы ТИ.");
      Console::print("\r\n <3>  - Установить время контроля измерений ТИ.");
      Console::print("\r\n <4>  - Задержка слежения, при Автомат.Вкл./Выкл.");
      Console::print("\r\n <5>  - Установить время усреднения ТИ.");
      break;
    default:
      break;
  }
  Console::print("\r\n\r\nНажмите любую клавишу для продолжения.");
  int key = std::tolower(Console::readKey());
  if (key == kKeyPrefixFunction) {
    selectView(0);
    if (s.viewMode == kViewMeterMenu) return 0;
    Console::clearLines(17, 19);
    return -1;
  }
  switch (key) {
    case kKeyEsc:
      Console::clearLines(17, 19);
      return kKeyEsc;
    case 's': {
      Console::clearLines(17, 13);
      // One address for the requests and the link (the meter menu, a line
      // test and the header go by it); 100 is not 00h.
      askDigits("Ведите новый модемный номер: ", "нужен адрес от 0 до FF", [&](const std::string& text) {
        std::optional<unsigned long> address = parseHex(text, 0xFF);
        if (address) link.selectAddress(static_cast<uint8_t>(*address));
        return address.has_value();
      });
      break;
    }
    case '0':
      changeModemNumber();
      break;
    case 'e':
      s.scaleMode = s.scaleMode == 1 ? 4 : 1;
      Console::clearLines(4, 12);
      break;
    case 'v': {
      EepromEditor editor(link);
      editor.run();
      break;
    }
    case 't':
      if (s.viewMode == kViewTu) {
        Console::clearLines(17, 1);
        char text[256] = "";
        if (Console::readLine("Введите время включения ТУ(1 = 100 мсек):", kEditMax, text) != kKeyEsc) {
          s.fillByte = static_cast<uint8_t>(decimalValue(text));
        }
      }
      break;
    case 'c':
      if (s.viewMode == kViewTs) {
        exchange(0x41);
        notify(s.status == kAck ? "Захват(0,1) ТС сброшены!" : "Ошибка! Обнуления ТС(0,1).");
      }
      break;
    case '1':
      if (s.viewMode == kViewTs) debounceTimes();
      break;
    case '2':
      if (s.viewMode == kViewTs) polarityMask();
      else if (s.viewMode == kViewTi) channelSelection();
      break;
    case '3':
      if (s.viewMode == kViewTi) analysisTimes();
      break;
    case '4':
      if (s.viewMode == kViewTi) autoDelay();
      break;
    case '5':
      if (s.viewMode == kViewTi) setAveraging();
      break;
    default:
      break;
  }
  Console::clearLines(17, 19);
  return -1;
}

}  // namespace qs
