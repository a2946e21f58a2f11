// The meter service menu on the virtual console against the in-process
// simulated line, on a recorded clock.
#include <cstring>

#include "devlink/dev_link.h"
#include "devlink/frames.h"
#include "meter/meter_menu.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "support/scripted_channel.h"
#include "support/sim_bench.h"

namespace qs {
namespace {

class MeterScreen : public test::SimBench {
 protected:
  void SetUp() override {
    test::SimBench::SetUp();
    menu = std::make_unique<MeterMenu>(*link);
  }
  void addDevices() override {
    line.add(sim::SimDevice::make(0x21, 0x123456));
    line.add(sim::SimDevice::make(0x12, 0x000042));
  }
  bool shown(const std::string& text) const { return vc.screenText().find(text) != std::string::npos; }

  std::unique_ptr<MeterMenu> menu;
};

TEST_F(MeterScreen, EscClearsTheBandAndLeaves) {
  vc.fill(U'#');
  vc.pushKey(keys::kEsc);
  EXPECT_EQ(menu->run(), kKeyEsc);
  for (int r = 2; r <= 26; ++r) EXPECT_EQ(vc.rowCells(r).substr(0, 77), std::string(77, ' ')) << r;
  EXPECT_EQ(vc.cell(0, 37).ch, U'#');
  EXPECT_EQ(vc.cell(80, 10).ch, U'#');  // the panel columns are kept
}

TEST_F(MeterScreen, FunctionKeysAndUnknownKeys) {
  vc.pushKeys({"8", "x", keys::function(1)});
  EXPECT_EQ(menu->run(), 0x3B);
  EXPECT_EQ(vc.rowText(3), " <1>  - Текущие параметры.");
  EXPECT_EQ(vc.rowText(13), "<Esc> - Выход.");
  EXPECT_TRUE(line.requests.empty());
  vc.pushKey("C");  // typing the character with the code of F9 acts the same
  EXPECT_EQ(menu->run(), 0x43);
}

TEST_F(MeterScreen, CurrentParametersAreScaledForShow) {
  device(0x21).currentRaw[6] = 12345;
  device(0x21).currentRaw[9] = 2205;
  vc.pushKeys({"1", keys::kEsc});
  menu->run();
  // The band is cleared when Esc leaves; the transcript keeps what was shown.
  const std::string& t = vc.transcript();
  EXPECT_NE(t.find("Текущие параметры."), std::string::npos);
  EXPECT_NE(t.find("Ia: 12.34 "), std::string::npos);
  EXPECT_NE(t.find("Va: 220.00 "), std::string::npos);
  EXPECT_NE(t.find("DT: "), std::string::npos);
}

TEST_F(MeterScreen, FailuresPrintTheirMessage) {
  ASSERT_EQ(link->readAllCoefficients(), 0);
  line.silent = true;
  vc.pushKeys({"1", "3", "4"});
  vc.onIdle = [&] {
    if (vc.keysLeft() == 0 && shown("от начала месяца")) vc.pushKey(keys::kEsc);
  };
  menu->run();
  const std::string& t = vc.transcript();
  EXPECT_NE(t.find("Ошибка запроса времени."), std::string::npos);
  EXPECT_NE(t.find("Ошибка запроса параметров от начала эксплуатации."), std::string::npos);
  EXPECT_NE(t.find("Ошибка запроса параметров от начала месяца."), std::string::npos);
  // Another device whose coefficients do not come: no totals scaled by none.
  link->selectAddress(0x22);
  vc.pushKeys({"3", keys::kEsc});
  menu->run();
  EXPECT_NE(vc.transcript().find("Ошибка чтения калибровочных коэффициентов."), std::string::npos);
}

TEST_F(MeterScreen, SelectingADeviceShowsItsAddressAndSerial) {
  vc.pushKey("2");
  vc.type("12");
  vc.pushKeys({keys::kEnter, keys::kEsc});
  menu->run();
  EXPECT_EQ(vc.rowText(1), "Мод.ном: 12h");
  EXPECT_EQ(vc.rowText(0), "Type: 3Ф4П(220В) SN: 000042");
  EXPECT_EQ(link->deviceAddress, 0x12);
}

TEST_F(MeterScreen, EmptyOrWrongEntriesAtThePromptsDoNothing) {
  vc.pushKeys({"2", keys::kEnter, "6", keys::kEnter, "7", keys::kEnter});
  // Not wholly hexadecimal, or past a byte: said, and nothing is sent (2l
  // is not address 02h, 100 is not 00h).
  for (const char* entry : {"2l", "100"}) {
    vc.pushKey("6");
    vc.type(entry);
    vc.pushKeys({keys::kEnter, " "});
  }
  vc.pushKey("7");
  vc.type("12345G");
  vc.pushKeys({keys::kEnter, " ", "7"});
  vc.type("42");
  vc.pushKey(keys::kEnter);
  vc.type("x");
  vc.pushKeys({keys::kEnter, " ", keys::kEsc});
  menu->run();
  EXPECT_TRUE(line.requests.empty());
  EXPECT_EQ(link->deviceAddress, 0x21);
  const std::string& t = vc.transcript();
  EXPECT_NE(t.find("Адрес «2l»: нужно шестнадцатеричное число от 0 до FF."), std::string::npos);
  EXPECT_NE(t.find("Адрес «100»: нужно шестнадцатеричное число от 0 до FF."), std::string::npos);
  EXPECT_NE(t.find("Серийный номер «12345G»: нужно шестнадцатеричное число от 0 до FFFFFF."), std::string::npos);
  EXPECT_NE(t.find("Адрес «x»"), std::string::npos);
  EXPECT_EQ(vc.keysLeft(), 0u);
}

TEST_F(MeterScreen, AddressChangeAndItsFailure) {
  vc.pushKey("6");
  vc.type("35");
  vc.pushKeys({keys::kEnter, keys::kEsc});
  menu->run();
  EXPECT_EQ(link->deviceAddress, 0x35);
  EXPECT_NE(line.find(0x35), nullptr);

  line.silent = true;
  vc.pushKey("6");
  vc.type("44");
  vc.pushKeys({keys::kEnter, "x", keys::kEsc});
  menu->run();
  EXPECT_NE(vc.transcript().find("Ошибка при смене модемного адреса."), std::string::npos);
  EXPECT_EQ(link->deviceAddress, 0x35);
}

TEST_F(MeterScreen, AddressChangeBySerialNumber) {
  vc.pushKey("7");
  vc.type("42");
  vc.pushKey(keys::kEnter);
  vc.type("55");
  vc.pushKeys({keys::kEnter, keys::kEsc});
  menu->run();
  EXPECT_EQ(link->deviceAddress, 0x55);
  EXPECT_EQ(line.find(0x55)->serial, 0x42u);
  EXPECT_NE(vc.transcript().find("Модемный адрес был изменен."), std::string::npos);
}

TEST_F(MeterScreen, TransformationRatios) {
  vc.pushKeys({"K", "1"});
  vc.type("0");
  // Not a whole number: said, nothing written (5x is not 5).
  for (const char* entry : {"5x", "1,5"}) {
    vc.pushKeys({keys::kEnter, "1"});
    vc.type(entry);
  }
  vc.pushKeys({keys::kEnter, "2"});
  vc.type("50");
  vc.pushKeys({keys::kEnter});
  vc.onIdle = [&] {
    if (vc.keysLeft() == 0) {
      EXPECT_EQ(vc.rowText(5), "Коэф. транс. U: 0001     изменить - < 1 >");
      EXPECT_EQ(vc.rowText(6), "Коэф. транс. I: 0050     изменить - < 2 >");
      vc.onIdle = nullptr;
      vc.pushKeys({keys::kEsc, keys::kEsc});
    }
  };
  menu->run();
  EXPECT_EQ(vc.starvedReads(), 0);
  EXPECT_NE(vc.transcript().find("Ошибка: Коэффициент трансформации должен быть больше нуля."), std::string::npos);
  EXPECT_NE(vc.transcript().find("Ошибка: коэффициент трансформации «5x» не целое число."), std::string::npos);
  EXPECT_NE(vc.transcript().find("Ошибка: коэффициент трансформации «1,5» не целое число."), std::string::npos);
  EXPECT_EQ(std::string(device(0x21).eeprom.begin() + 52, device(0x21).eeprom.begin() + 56), "0001");
  EXPECT_EQ(std::string(device(0x21).eeprom.begin() + 60, device(0x21).eeprom.begin() + 64), "0050");
}

TEST_F(MeterScreen, ClockCorrection) {
  device(0x21).clockOffset = -7200;
  vc.pushKeys({"9", keys::kEsc});
  menu->run();
  EXPECT_NE(vc.transcript().find("Коррекция времени выполнена."), std::string::npos);
  EXPECT_LT(std::abs(device(0x21).clockOffset), 3);
}

TEST_F(MeterScreen, LineTestListsTheDevicesAndSelectsOne) {
  vc.pushKeys({"T"});
  vc.onIdle = [&] {
    if (vc.keysLeft() != 0) return;
    EXPECT_EQ(vc.rowText(16), "   12   S/N: 42 + LMX: ver: 1.0.2");
    EXPECT_EQ(vc.rowText(4), "   00 No Device");
    EXPECT_EQ(vc.attrAt(3, 4), kAttrSelected);
    vc.onIdle = nullptr;
    for (int i = 0; i < 12; ++i) vc.pushKey(keys::kDown);
    vc.pushKeys({keys::kEnter, keys::kEsc});
  };
  menu->run();
  EXPECT_EQ(vc.starvedReads(), 0);
  EXPECT_EQ(menu->scanned, 1);
  EXPECT_EQ(link->deviceAddress, 0x12);
  EXPECT_EQ(std::string(menu->scanList[0x21 - 0x21 + 21]).substr(0, 16), "21\tS/N: 123456 +");
}

TEST_F(MeterScreen, CancelledFirstScanScansAgainNextTime) {
  vc.onPoll = [&] {
    if (line.requests.size() > 10 && vc.keysLeft() == 0) vc.pressKey(keys::kEsc);
  };
  EXPECT_EQ(menu->lineTest(), kKeyEsc);
  EXPECT_EQ(menu->scanned, 0);
  EXPECT_EQ(link->deviceAddress, 0x21);  // back where it was
}

TEST_F(MeterScreen, LineTestPaging) {
  menu->scanned = 1;  // the stored list is shown without a scan
  for (int i = 0; i < kScanEntries; ++i) std::snprintf(menu->scanList[i], kScanEntryLength, "%02d entry", i);
  for (int i = 0; i < 3; ++i) vc.pushKey(keys::kPgDn);  // selected 90, top 70
  vc.pushKeys({keys::kPgDn, keys::kEnter});
  EXPECT_EQ(menu->lineTest(), 1);
  EXPECT_EQ(link->deviceAddress, 0x99);
  vc.pushKeys({keys::kPgUp, keys::kEnter});
  EXPECT_EQ(menu->lineTest(), 1);
  EXPECT_EQ(link->deviceAddress, 0x00);
}

// A device link whose answers the test writes by hand.
class ScriptedDevice : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    auto ch = std::make_unique<test::ScriptedChannel>();
    channel = ch.get();
    link = std::make_unique<DevLink>(0x21, std::move(ch), QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
    menu = std::make_unique<MeterMenu>(*link);
  }
  void answer(const std::vector<uint8_t>& payload) { channel->feed(sim::makeFrame(0x7F, 0x21, payload)); }
  test::FakeClock clock;
  test::ScriptedChannel* channel = nullptr;
  std::unique_ptr<DevLink> link;
  std::unique_ptr<MeterMenu> menu;
};

TEST_F(ScriptedDevice, FormatProgressNeverGoesBackwards) {
  answer({kAck});
  answer({0, 6, 0, 3});
  answer({0, 6, 0, 1});
  answer({0, 6, 0, 1});
  answer({kAck});
  vc.pushKey("y");
  menu->formatProfile();
  const std::string& t = vc.transcript();
  size_t a = t.find("Формат: 0%  "), b = t.find("Формат: 25%  "), c = t.find("Формат: 58%  ");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(t.find("Формат таблицы профиля выполнен."), std::string::npos);
}

TEST_F(ScriptedDevice, FormatGivesUpAfterElevenMissingReports) {
  answer({kAck});
  answer({0, 6, 0, 1});
  channel->gaps(10 * 5);  // ten reports missing: the count starts again after a report
  answer({0, 6, 0, 2});
  vc.pushKey("Y");
  menu->formatProfile();
  EXPECT_NE(vc.transcript().find("Error TimeOut опрерации форматирование таблицы профиля."), std::string::npos);
  EXPECT_NE(vc.transcript().find("Формат: 8%"), std::string::npos);
}

TEST_F(ScriptedDevice, FormatNeedsAYes) {
  vc.pushKey("n");
  menu->formatProfile();
  EXPECT_TRUE(channel->written.empty());
}

}  // namespace
}  // namespace qs
