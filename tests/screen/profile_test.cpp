// The load-profile screen and the listing file.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "console/codepage.h"
#include "devlink/dev_link.h"
#include "devlink/local_time.h"
#include "meter/meter_menu.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "support/sim_bench.h"

namespace qs {
namespace {

class ProfileScreen : public test::SimBench {
 protected:
  void SetUp() override {
    test::SimBench::SetUp();
    menu = std::make_unique<MeterMenu>(*link);
  }
  // Profile requests sent: their date bytes (BCD year, month, day).
  std::vector<std::vector<uint8_t>> dayRequests() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& f : line.requests)
      if (f[1] == 0xA4) out.push_back({f[4], f[5], f[6]});
    return out;
  }
  void setDeviceTime(int year, int month, int day, int hour) {
    line.find(0x21)->clockOffset = fromLocalTime(year, month, day, hour, 0, 0) - std::time(nullptr);
  }
  // Runs the profile screen: depth typed, then `then` keys, then Esc.
  void runProfile(const std::string& depth, std::initializer_list<std::string> then = {}) {
    vc.type(depth);
    vc.pushKey(keys::kEnter);
    for (const auto& k : then) vc.pushKey(k);
    vc.pushKey(keys::kEsc);
    EXPECT_EQ(menu->profile(), 0);
  }
  int listRows() const {
    int n = 0;
    for (int r = 13; r < 33; ++r)
      if (vc.rowText(r).rfind("  20", 0) == 0) ++n;
    return n;
  }

  test::TempDir dir;
  std::unique_ptr<MeterMenu> menu;
};

// A depth is taken whole; one past what a read can hold is refused with a
// message instead of being cut to its low byte (256 read nothing, 300 read
// 44 days).
TEST_F(ProfileScreen, DepthIsTruncatedAndRefusedPastItsLimit) {
  struct Case {
    const char* depth;
    size_t days;
    bool refused;
  } cases[] = {{"", 1, false}, {"2.9", 2, false}, {"256", 0, true}, {"300", 0, true}};
  for (const auto& c : cases) {
    line.requests.clear();
    vc.onIdle = nullptr;
    vc.type(c.depth);
    vc.pushKey(keys::kEnter);
    vc.onIdle = [&] {
      EXPECT_EQ(listRows(), static_cast<int>(c.days < 20 ? c.days : 20)) << c.depth;
      vc.onIdle = nullptr;
      vc.pushKey(keys::kEsc);
    };
    EXPECT_EQ(menu->profile(), 0);
    EXPECT_EQ(dayRequests().size(), c.days) << c.depth;
    EXPECT_EQ(vc.rowText(11).rfind("Ошибка: глубина чтения", 0) == 0, c.refused) << c.depth;
    EXPECT_EQ(vc.starvedReads(), 0) << c.depth;
  }
}

// A day whose reading the operator cancelled is listed with its own date
// and marked, never as 1970-01-01, and the listing says it was not read.
TEST_F(ProfileScreen, ACancelledDayKeepsItsDateAndIsMarkedNotRead) {
  setDeviceTime(2025, 6, 10, 12);
  std::string file = dir.file("cancelled.txt");
  int polls = 0;
  vc.onPoll = [&] {
    line.silent = !line.requests.empty();  // the clock is read, then no day is answered
    if (++polls % 50 == 0) vc.pressKey(keys::kEsc);
  };
  vc.onIdle = [&] {
    vc.onPoll = nullptr;
    line.silent = false;
    EXPECT_EQ(vc.rowText(13), "  2025-06-10 -no-response- ------------- ------------- -------------");
    EXPECT_EQ(vc.rowText(14), "  2025-06-09 -no-response- ------------- ------------- -------------");
    vc.onIdle = nullptr;
    vc.pushKey("S");
    vc.type(file);
    vc.pushKeys({keys::kEnter, keys::kEsc});
  };
  vc.type("2");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->profile(), 0);
  std::string text = cp1251ToUtf8(test::readFile(file));
  EXPECT_NE(text.find("Data: 2025-06-09 \r\n#День не считан.\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("1970"), std::string::npos);
}

TEST_F(ProfileScreen, DaysGoBackAcrossTheMonthEnd) {
  setDeviceTime(2024, 3, 1, 10);
  std::string file = dir.file("list.txt");
  vc.type("2");
  vc.pushKeys({keys::kEnter, "S"});
  vc.type(file);
  vc.pushKeys({keys::kEnter, keys::kEsc});
  EXPECT_EQ(menu->profile(), 0);
  auto days = dayRequests();
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(days[0], (std::vector<uint8_t>{0x24, 0x03, 0x01}));
  EXPECT_EQ(days[1], (std::vector<uint8_t>{0x24, 0x02, 0x29}));
  std::string text = cp1251ToUtf8(test::readFile(file));
  EXPECT_NE(text.find("Дата/время: 2024-03-01,10:00:00\r\n"), std::string::npos) << text;  // when it was read
}

#ifndef _WIN32
// Days of 23 and 25 hours (summer time begins and ends) keep their dates:
// each day read is the calendar day before the last, in the list and the
// listing, whatever the zone of the computer.
TEST_F(ProfileScreen, DaysAcrossASummerTimeChangeKeepTheirDates) {
  const char* saved = std::getenv("TZ");
  std::string before = saved != nullptr ? saved : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  struct Case {
    int month, day;
    std::vector<uint8_t> dates[3];
    const char* listed;
  } cases[] = {{3, 30, {{0x26, 0x03, 0x30}, {0x26, 0x03, 0x29}, {0x26, 0x03, 0x28}}, "2026-03-29"},
               {10, 26, {{0x26, 0x10, 0x26}, {0x26, 0x10, 0x25}, {0x26, 0x10, 0x24}}, "2026-10-25"}};
  for (const Case& c : cases) {
    line.requests.clear();
    setDeviceTime(2026, c.month, c.day, 0);  // a minute past midnight, at most
    std::string file = dir.file("dst" + std::to_string(c.month) + ".txt");
    vc.type("3");
    vc.pushKeys({keys::kEnter, "S"});
    vc.type(file);
    vc.pushKeys({keys::kEnter, keys::kEsc});
    EXPECT_EQ(menu->profile(), 0);
    auto days = dayRequests();
    ASSERT_EQ(days.size(), 3u);
    for (int d = 0; d < 3; ++d) EXPECT_EQ(days[static_cast<size_t>(d)], c.dates[d]) << c.month << " day " << d;
    std::string text = cp1251ToUtf8(test::readFile(file));
    EXPECT_NE(text.find(std::string("Data: ") + c.listed + " \r\n"), std::string::npos) << text;
  }
  if (saved != nullptr) setenv("TZ", before.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}
#endif

TEST_F(ProfileScreen, ListDetailAndPaging) {
  vc.onIdle = [&] {
    EXPECT_EQ(vc.rowText(12), " Мощность[Вт*ч]:  P+            P-            Q+            Q-");
    EXPECT_EQ(vc.attrAt(15, 13), kAttrSelected);
    vc.onIdle = [&] {
      // Detail of the newest day: slots 1 to 20.
      EXPECT_EQ(vc.rowText(13).substr(0, 13), "    00:30:00 ");
      vc.onIdle = [&] {
        EXPECT_EQ(vc.rowText(13).substr(0, 13), "    10:30:00 ");
        vc.onIdle = [&] {
          EXPECT_EQ(vc.rowText(13).substr(0, 13), "    14:30:00 ");
          EXPECT_EQ(vc.rowText(32).substr(0, 13), "    24:00:00 ");
          vc.onIdle = nullptr;
          vc.pushKeys({keys::kEsc, keys::kEsc});
        };
        vc.pushKey(keys::kPgDn);
      };
      vc.pushKey(keys::kPgDn);
    };
    vc.pushKeys({keys::kDown, keys::kEnter});
  };
  vc.type("3");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->profile(), 0);
  EXPECT_EQ(vc.starvedReads(), 0);  // every step above was reached
}

TEST_F(ProfileScreen, DayWithoutDataIsDashedAndHasNoDetail) {
  line.find(0x21)->profileDays = 0;  // only today, which has data after 00:30
  setDeviceTime(2025, 6, 10, 12);
  vc.onIdle = [&] {
    EXPECT_EQ(vc.rowText(14), "  2025-06-09 ------------- ------------- ------------- -------------");
    vc.onIdle = [&] {
      EXPECT_EQ(vc.rowText(12), " Мощность[Вт*ч]:  P+            P-            Q+            Q-");  // still the list
      vc.onIdle = nullptr;
      vc.pushKey(keys::kEsc);
    };
    vc.pushKeys({keys::kDown, keys::kEnter});
  };
  vc.type("2");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->profile(), 0);
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(ProfileScreen, TimeFailureEndsTheScreen) {
  line.silent = true;
  EXPECT_EQ(menu->profile(), -1);
  EXPECT_EQ(vc.rowText(0), "Ошибка запроса времени.");
}

TEST_F(ProfileScreen, ListingFileIsExact) {
  ProfileRecord days[2];
  days[0].time = fromLocalTime(2024, 2, 29, 0, 0, 0);
  days[0].entries[0].present = 1;
  days[0].entries[0].values[0] = 12.3;
  days[0].entries[0].values[1] = -0.5;
  days[0].entries[48].present = 1;  // slot 49: not on screen, but in the file
  days[0].entries[48].values[3] = 1234567.8;
  days[1].time = fromLocalTime(2024, 2, 28, 0, 0, 0);  // a day without slots
  days[0].blockStatus = days[1].blockStatus = kAck;   // both read
  link->readVersion(1);
  ASSERT_EQ(link->readAllCoefficients(), 0);
  std::string file = dir.file("list.txt");
  vc.type(file);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->writeProfileFile(2, days, fromLocalTime(2024, 2, 27, 10, 5, 9)), 0);
  EXPECT_EQ(vc.rowText(9), "Файл записан.");

  const sim::SimDevice& d = *line.find(0x21);
  char totals[128];
  std::snprintf(totals, sizeof totals, "%13.2f %13.2f %13.2f %13.2f ", d.totalsSinceStart[0] * 0.001,
                d.totalsSinceStart[1] * 0.001, d.totalsSinceStart[2] * 0.001, d.totalsSinceStart[3] * 0.001);
  std::string expected = std::string("Модемный номер: 33\r\n") + "Дата/время: 2024-02-27,10:05:09\r\n" +
                         "S/N: 123456\r\n" + "Ver: 1.0.2\r\n" + "\r\n" + "#Параметры от начала эксплуатации.\r\n" +
                         "#Энергия [кВт]:  P+            P-            Q+            Q-\r\n       " + totals + "\r\n" +
                         "\r\n\r\nData: 2024-02-29 \r\n" +
                         "#Мощность[Вт*ч]:     P+         P-         Q+         Q-\r\n" +
                         "    00:30:00       12.3       -0.5        0.0        0.0\r\n" +
                         "    24:30:00        0.0        0.0        0.0  1234567.8\r\n" +
                         "\r\n\r\nData: 2024-02-28 \r\n" +
                         "#Мощность[Вт*ч]:     P+         P-         Q+         Q-\r\n";
  std::string bytes = test::readFile(file);
  EXPECT_EQ(cp1251ToUtf8(bytes), expected);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCC);  // 'М' in Windows-1251
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

TEST_F(ProfileScreen, NoDaysAndNoTotalsStillWriteTheHeader) {
  std::string file = dir.file("empty.txt");
  line.silent = true;
  vc.type(file);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->writeProfileFile(0, nullptr, 0), 0);
  std::string text = cp1251ToUtf8(test::readFile(file));
  EXPECT_NE(text.find("S/N: FFFFFFFF\r\n"), std::string::npos);
  EXPECT_NE(text.find("Ver: 0.0.1\r\n\r\n"), std::string::npos);
  EXPECT_EQ(text.find("#Параметры"), std::string::npos);
  EXPECT_NE(vc.transcript().find("Ошибка запроса параметров от начала эксплуатации."), std::string::npos);
}

TEST_F(ProfileScreen, AFileThatCannotBeWrittenLeavesTheOldOneAlone) {
  std::string file = dir.write("keep/list.txt", "old listing");
  std::filesystem::create_directory(file + ".tmp");  // the temporary cannot be made
  vc.type(file);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->writeProfileFile(0, nullptr, 0), -1);
  EXPECT_EQ(vc.rowText(9), "Запись в файл невозможна!!!");
  EXPECT_EQ(vc.rowText(10), "Возможная проблема, файл открыт другим приложением.");
  EXPECT_EQ(test::readFile(file), "old listing");
  vc.type(dir.file("no/such/folder/x.txt"));
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(menu->writeProfileFile(0, nullptr, 0), -1);
}

}  // namespace
}  // namespace qs
