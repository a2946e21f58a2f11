// The telemechanics screens against the simulated controller.
#include <cstring>
#include <filesystem>
#include <regex>

#include "support/sim_bench.h"
#include "uso/uso_screen.h"

namespace qs {
namespace {

class UsoBench : public test::SimBench {
 protected:
  void SetUp() override {
    saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());  // scale.bin lives in the working folder
    test::SimBench::SetUp();
    uso = std::make_unique<UsoScreen>(*link);
  }
  void TearDown() override {
    uso.reset();
    test::SimBench::TearDown();
    std::filesystem::current_path(saved);
  }
  DeviceState& s() { return *link->state; }
  size_t count(uint8_t code) const {
    size_t n = 0;
    for (const auto& f : line.requests) n += f[1] == code;
    return n;
  }
  // Runs the screen in `view` (a function-key number); `keys` follow when it waits.
  int runView(int fkey, std::initializer_list<std::string> keys) {
    uso->selectView(kScanF1 + fkey - 1);
    for (const auto& k : keys) vc.pushKey(k);
    return uso->run();
  }
  // Lets the live view poll `polls` times, then presses a key.
  void stopAfter(size_t polls, uint8_t code, const std::string& key = "x") {
    vc.onPoll = [this, polls, code, key] {
      if (count(code) >= polls && vc.keysLeft() == 0) {
        vc.onPoll = nullptr;
        vc.pressKey(key);
      }
    };
  }

  // Each time the live view polls with nothing typed, stop it and give the
  // service menu the next round of keys; after the last round the stopped
  // screen meets the end of the script, which is Esc.
  void serviceRounds(std::vector<std::vector<std::string>> rounds) {
    rounds_ = std::move(rounds);
    next_ = 0;
    vc.onPoll = [this] {
      if (vc.keysLeft() != 0) return;
      vc.pressKey("x");
      if (next_ < rounds_.size())
        for (const auto& k : rounds_[next_++]) vc.pushKey(k);
    };
  }
  size_t roundsDone() const { return next_; }

  test::TempDir dir;
  std::filesystem::path saved;
  std::unique_ptr<UsoScreen> uso;

 private:
  std::vector<std::vector<std::string>> rounds_;
  size_t next_ = 0;
};

TEST_F(UsoBench, IdentificationReadsTheModules) {
  EXPECT_EQ(uso->identify(), 0);
  EXPECT_EQ(s().tsPresence, 0xFFu);
  EXPECT_EQ(s().tiPresence, 0xFFu);
  EXPECT_EQ(s().tuPresence, 0x07u);
  const uint8_t modules[4] = {0x03, 0x71, 0x03, 0x02};  // TI, empty, TI, TU
  std::memcpy(&device(0x21).eeprom[0x20], modules, 4);
  EXPECT_EQ(uso->identify(), 0);
  EXPECT_EQ(s().tiPresence, 0xFFFFu);
  EXPECT_EQ(s().tsPresence, 0u);
  EXPECT_EQ(s().tuPresence, 0x07u);
}

TEST_F(UsoBench, WithoutTheSignatureEveryChannelCounts) {
  device(0x21).eeprom[0x740] = 'X';
  EXPECT_EQ(uso->identify(), -2);
  EXPECT_EQ(s().tiPresence, 0xFFFFFFFFu);
  EXPECT_EQ(s().tuPresence, 0xFFFFu);
}

TEST_F(UsoBench, F3GoesBackAndUnusedKeysKeepTheView) {
  EXPECT_EQ(runView(3, {}), 0);
  EXPECT_TRUE(line.requests.empty());
  uso->selectView(kScanF1 + 1);
  for (int f : {5, 7, 8, 9}) {
    uso->selectView(kScanF1 + f - 1);
    EXPECT_EQ(s().viewMode, kViewTs) << f;
  }
}

TEST_F(UsoBench, MeasurementViewShowsRawAndScaledValues) {
  stopAfter(3, 0x5A);
  vc.onIdle = [&] {
    EXPECT_EQ(vc.text(0, 2, 2), "ТИ");
    EXPECT_TRUE(std::regex_search(vc.rowText(5), std::regex("^1: {3}0[0-9A-F]{3}h {4}0[0-9A-F]{3}h .* FF[0-9A-F]{2}h$")))
        << vc.rowText(5);
    EXPECT_NE(vc.rowText(6).find("   -0.2"), std::string::npos);  // channel 8 counts -100
    EXPECT_EQ(vc.rowText(8), "2:");  // no second TI module: nothing drawn
    EXPECT_EQ(vc.rowText(37), "<F1- ТИ> <F2- ТС> <F3- Счетч.> <F4- Темпер.> <F6- ТУ>");
    EXPECT_EQ(vc.cell(17, 2).ch, U' ');
    vc.onIdle = nullptr;
    vc.pushKey(keys::kEsc);
  };
  EXPECT_EQ(runView(1, {}), kKeyEsc);
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(UsoBench, AFailedPollShowsAStarAndKeepsTheValues) {
  stopAfter(2, 0x5A);
  std::string values;
  vc.onIdle = [&] {
    line.silent = true;
    values = vc.rowText(5);
    vc.onIdle = [&] {
      EXPECT_EQ(vc.cell(17, 2).ch, U'*');
      EXPECT_EQ(vc.rowText(5), values);
      vc.onIdle = nullptr;
      vc.pushKey(keys::kEsc);
    };
    vc.pushKey(keys::kEnter);  // leave the service menu, polling goes on
    stopAfter(4, 0x5A);
  };
  EXPECT_EQ(runView(1, {}), kKeyEsc);
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(UsoBench, SignalAndTemperatureViews) {
  stopAfter(2, 0x57);
  vc.onIdle = [&] {
    EXPECT_EQ(vc.text(0, 4, 14), "Тек.сост:  1  ");
    EXPECT_EQ(vc.rowText(8), "Тек.сост:");  // the second group has no channels
    vc.onIdle = nullptr;
    vc.pushKey(keys::kEsc);
  };
  EXPECT_EQ(runView(2, {}), kKeyEsc);
  stopAfter(1, 0x3F);
  vc.onIdle = [&] {
    EXPECT_EQ(vc.rowText(4), "Внутри:  23.5");
    EXPECT_EQ(vc.rowText(5), "Снаружи: -4.0");
    vc.onIdle = nullptr;
    vc.pushKey(keys::kEsc);
  };
  EXPECT_EQ(runView(4, {}), kKeyEsc);
}

TEST_F(UsoBench, ControlOutputsAreToggledAndSent) {
  EXPECT_EQ(runView(6, {"1", "3", "!", keys::kEnter, "x", keys::kEsc}), kKeyEsc);
  EXPECT_EQ(s().tuSelection, (1u << 0) | (1u << 2) | (1u << 10));
  EXPECT_EQ(device(0x21).tuOutputs, 0x0005);  // channel 11 is not present
  EXPECT_EQ(device(0x21).tuOnTimes, (std::vector<uint8_t>{5, 5}));
  EXPECT_EQ(vc.text(0, 5, 20), "Тек.сост:  1   0   1");
}

TEST_F(UsoBench, ServiceMenuKeys) {
  serviceRounds({{"e"}, {"e"}, {"s", keys::kEnter}, {"s", "1", "0", "0", keys::kEnter, "2", "1", keys::kEnter}});
  uso->selectView(kScanF1 + 3);
  EXPECT_EQ(uso->run(), kKeyEsc);
  EXPECT_EQ(roundsDone(), 4u);
  EXPECT_EQ(s().scaleMode, 4);  // 2 at start: the first e gives 1, the second 4
  EXPECT_EQ(s().address, 0x21);
  EXPECT_NE(vc.transcript().find("Ведите новый модемный номер: "), std::string::npos);
  EXPECT_NE(vc.transcript().find("«100»: нужен адрес от 0 до FF."), std::string::npos);  // not 00h
}

TEST_F(UsoBench, TuOnTimeAndLatchClear) {
  EXPECT_EQ(runView(6, {"x", "t", "1", "2", keys::kEnter, "x", keys::kEsc}), kKeyEsc);
  EXPECT_EQ(s().fillByte, 12);
  device(0x21).tsLatch0 = 0xFF;
  serviceRounds({{"c"}});
  EXPECT_EQ(runView(2, {}), kKeyEsc);
  EXPECT_EQ(count(0x41), 1u);
  EXPECT_NE(vc.transcript().find("Захват(0,1) ТС сброшены!"), std::string::npos);
}

// What the service menu did stays below the live view until the next key:
// the latch reset, a write that the controller refused.
TEST_F(UsoBench, ResultsStayBelowTheLiveViewUntilTheNextKey) {
  std::vector<std::string> seen;
  int polls = 0;
  vc.onPoll = [&] {
    if (vc.keysLeft() != 0) return;
    ++polls;
    seen.push_back(vc.rowText(16));
    vc.pressKey(polls < 2 ? "x" : keys::kEsc);
    if (polls == 1) vc.pushKeys({"c"});
  };
  device(0x21).tsLatch0 = 0xFF;
  EXPECT_EQ(runView(2, {}), kKeyEsc);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "Захват(0,1) ТС сброшены!");

  seen.clear();
  polls = 0;
  device(0x21).nakAcks = 1;  // the auto delay is not written
  vc.onPoll = [&] {
    if (vc.keysLeft() != 0) return;
    ++polls;
    seen.push_back(vc.rowText(16));
    vc.pressKey(polls < 2 ? "x" : keys::kEsc);
    if (polls == 1) vc.pushKeys({"4", keys::kEsc});
  };
  EXPECT_EQ(runView(1, {}), kKeyEsc);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "Ошибка! при записи задержки Авто.Вкл./Выкл.");
}

// Settings screens, reached from the service menu of their view.
class UsoSettings : public UsoBench {
 protected:
  // Opens a settings screen from the service menu of view F`fkey`, types
  // `keys` there, and lets the program end at the next stop.
  void settings(int fkey, std::vector<std::string> keys) {
    serviceRounds({std::move(keys)});
    uso->selectView(kScanF1 + fkey - 1);
    EXPECT_EQ(uso->run(), kKeyEsc);
    EXPECT_EQ(vc.keysLeft(), 0u);
  }
  std::vector<std::string> typed(std::vector<std::string> k, const std::string& text) {
    for (char c : text) k.emplace_back(1, c);
    return k;
  }
};

TEST_F(UsoSettings, AnalysisTimesRoundTrip) {
  auto k = typed({"3", keys::kDown, keys::kEnter}, "3.5");
  k.insert(k.end(), {keys::kEnter, "S"});
  settings(1, k);
  EXPECT_EQ(device(0x21).analysisTimes[1], 35);
  EXPECT_EQ(device(0x21).analysisTimes[0], 10);
  EXPECT_NE(vc.transcript().find(" 2. время анализа:     2.0 сек"), std::string::npos);
}

TEST_F(UsoSettings, DebounceTablePagingAndEditKeepingAValue) {
  std::vector<std::string> k{"1"};
  for (int i = 0; i < 13; ++i) k.push_back(keys::kDown);  // entry 14
  k.insert(k.end(), {keys::kPgDn, keys::kEnter});          // to 16 (the last), edit
  k = typed(k, "77");
  k.insert(k.end(), {keys::kEnter, keys::kPgUp, keys::kPgUp, keys::kPgUp, keys::kUp, keys::kUp, keys::kUp,
                     keys::kPgUp, keys::kEnter, keys::kEnter, "s"});  // 12, 8, 4, 1 (3 - 4 stops at 1)
  settings(2, k);
  EXPECT_EQ(device(0x21).debounceTimes[15], 77);
  EXPECT_EQ(device(0x21).debounceTimes[0], 20);  // Enter without typing kept it
}

TEST_F(UsoSettings, PolarityToggleAndRefusedWrite) {
  device(0x21).nakAcks = 1;
  settings(2, {"2", keys::kSpace, "s", "s"});
  EXPECT_NE(vc.transcript().find("Ошибка! записи маски полярности ТС каналов."), std::string::npos);
  EXPECT_EQ(device(0x21).polarity, 0x00F1);
}

TEST_F(UsoSettings, AutoDelayIsWrittenBackEvenAfterEsc) {
  settings(1, {"4", keys::kEsc});
  EXPECT_EQ(count(0x68), 1u);
  EXPECT_EQ(device(0x21).autoDelay, 35);
  EXPECT_NE(vc.transcript().find("Введите время Авто.Вкл./Выкл. (3.5 сек): "), std::string::npos);
}

TEST_F(UsoSettings, AveragingWindow) {
  // What is not whole milliseconds is said and asked again (1.5 is not 1).
  auto k = typed({"5"}, "1.5");
  k.push_back(keys::kEnter);
  k = typed(k, "250");
  k.push_back(keys::kEnter);
  settings(1, k);
  EXPECT_EQ(uso->averagingMs, 250u);
  EXPECT_NE(vc.transcript().find("«1.5»: нужно целое число миллисекунд."), std::string::npos);
}

TEST_F(UsoSettings, ScaleLimitsForEightChannelsAreSaved) {
  auto k = typed({"2", keys::kEnter}, "5");
  k.push_back(keys::kEnter);
  settings(1, k);
  EXPECT_EQ(uso->scaleMax[0], 5.0);
  EXPECT_EQ(uso->scaleMax[7], 5.0);
  EXPECT_EQ(uso->scaleMax[8], 10.0);
  std::string bytes = test::readFile(kScaleFile);
  ASSERT_EQ(bytes.size(), 256u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\0\0\0\0\0\0\x14\x40", 8));  // 5.0, little-endian

  UsoScreen again(*link);  // a new run reads the file
  EXPECT_EQ(again.scaleMax[0], 5.0);
  EXPECT_NEAR(again.scaled(4095, 0), 5.0, 1e-12);
  EXPECT_NEAR(again.scaled(4095, 8), 10.0, 1e-12);
}

TEST_F(UsoSettings, ChannelByChannelWithTheZeroKey) {
  // Channels 1-4 come preselected from the controller: 0 selects all, 0 again none.
  auto k = typed({"2", "0", "0", "2", keys::kSpace}, "7");
  k.push_back(keys::kEnter);
  settings(1, k);
  EXPECT_EQ(uso->scaleMax[1], 7.0);
  EXPECT_EQ(uso->scaleMax[0], 10.0);
}

TEST_F(UsoSettings, ThirtyTwoChannelLimitIsNotSaved) {
  s().scaleMode = 4;
  auto k = typed({"2"}, "2.5.1");  // not 2.5: asked again
  k.push_back(keys::kEnter);
  k = typed(k, "2.5");
  k.push_back(keys::kEnter);
  settings(1, k);
  EXPECT_EQ(uso->scaleMax[31], 2.5);
  EXPECT_FALSE(std::filesystem::exists(kScaleFile));
}

TEST_F(UsoSettings, ModemNumberOfAMeterUsesTheDeviceLink) {
  auto k = typed({"0"}, "1.");
  k.push_back(keys::kEnter);
  k = typed(k, "123");
  k.push_back(keys::kEnter);
  k = typed(k, "35");
  k.push_back(keys::kEnter);
  settings(2, k);
  EXPECT_NE(vc.transcript().find("Неправильный модемный номер."), std::string::npos);
  EXPECT_EQ(s().address, 0x35);
  EXPECT_NE(line.find(0x35), nullptr);
  EXPECT_EQ(count(0x60), 0u);
  EXPECT_EQ(count(0x4A), 0u);
  EXPECT_EQ(count(0x7B), 1u);
}

TEST_F(UsoSettings, ModemNumberOfABareController) {
  device(0x21).meterProtocol = false;
  settings(2, {"0", "7", keys::kEnter});
  EXPECT_EQ(s().address, 0x07);
  ASSERT_NE(line.find(0x07), nullptr);
  EXPECT_EQ(line.find(0x07)->speedCode, 7);
  EXPECT_EQ(count(0x4A), 1u);
}

TEST(Scaling, LimitsAndTwoComplement) {
  Console::init(nullptr);
  sim::SimLine line;
  line.add(sim::SimDevice::make(0x21, 1));
  test::TempDir dir;
  auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    test::FakeClock clock;
    DevLink link(0x21, std::make_unique<sim::LoopbackChannel>(line), QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
    UsoScreen uso(link);
    EXPECT_NEAR(uso.scaled(0x0FFF, 0), 10.0, 1e-9);
    EXPECT_NEAR(uso.scaled(0xF001, 0), -10.0, 1e-9);
    EXPECT_NEAR(uso.scaled(0x8000, 3), -32768 * 10.0 / 4095.0, 1e-9);
  }
  std::filesystem::current_path(saved);
}

TEST_F(UsoBench, ZeroAveragingShowsTheLatestReadingAlone) {
  uso->averagingMs = 0;
  s().viewMode = kViewTi;
  s().tiPresence = 0xFF;
  s().status = kAck;
  clock.advance(1);  // polls take their time: the window has passed at every drawing
  s().tiValues[0] = 4095;
  uso->drawValues();
  clock.advance(1);
  s().tiValues[0] = 0;
  uso->drawValues();
  EXPECT_EQ(vc.text(2, 6, 8), "    0.00");
  uso->averagingMs = 1000;
  s().tiValues[0] = 4095;
  uso->drawValues();
  clock.advance(1);
  s().tiValues[0] = 0;
  uso->drawValues();
  EXPECT_EQ(vc.text(2, 6, 8), "    5.00");  // the mean of 10 and 0
}

}  // namespace
}  // namespace qs
