// A noisy line: answers lost, changed and preceded by noise at 1, 5 and
// 10 %. Whatever the operations return, a value they report is the device's,
// and the operator can always leave with Esc.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include "devlink/local_time.h"
#include "eeprom/eeprom_editor.h"
#include "sim/serve.h"
#include "support/sim_bench.h"
#include "uso/uso_screen.h"

namespace qs {
namespace {

class NoisyLine : public test::SimBench, public ::testing::WithParamInterface<double> {
 protected:
  void SetUp() override {
    test::SimBench::SetUp();
    sim::Faults f;
    f.drop = f.corrupt = f.noise = GetParam();
    f.seed = 7 + static_cast<uint32_t>(GetParam() * 1000);
    line.setFaults(f);
    // Esc after a while, so that nothing can wait for ever.
    vc.onPoll = [this] {
      if (++polls_ == 400) vc.pressKey(keys::kEsc);
    };
  }
  int polls_ = 0;
};

TEST_P(NoisyLine, CurrentValuesAreTheDevicesOrNone) {
  int answered = 0;
  for (int round = 0; round < 20; ++round) {
    double v[16] = {};
    int r = link->readCurrentValues(v);
    if (r != 0) continue;
    ++answered;
    const sim::SimDevice& d = device(0x21);
    for (int j = 0; j < 16; ++j) {
      double want = static_cast<double>(d.currentRaw[j] / 10u) * (j >= 6 && j <= 8 ? 0.01 : 1.0);
      ASSERT_DOUBLE_EQ(v[j], want) << "value " << j << " round " << round;
    }
  }
  EXPECT_GT(answered, 10);  // the attempts get through a noisy line
}

TEST_P(NoisyLine, ADayProfileIsTheDevicesOrLeftWithEsc) {
  int64_t yesterday = static_cast<int64_t>(std::time(nullptr)) - 86400;
  ProfileRecord rec;
  int r = link->readDayProfile(yesterday, &rec);
  if (GetParam() <= 0.01) {
    EXPECT_EQ(r, 0);
  }
  if (r == -27) return;  // the operator's way out
  ASSERT_EQ(r, 0);
  std::tm tm = localTime(yesterday);
  int64_t day = fromLocalTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, 0, 0);
  EXPECT_EQ(rec.receivedEntries, rec.expectedEntries);
  for (int s = 1; s <= 48; ++s) {
    const ProfileEntry& e = rec.entries[s - 1];
    if (!e.present) continue;
    int32_t want[4];
    device(0x21).profileValues(day, s, want);
    for (int j = 0; j < 4; ++j) ASSERT_DOUBLE_EQ(e.values[j], want[j] * 0.1) << "slot " << s;
  }
}

TEST_P(NoisyLine, AnEepromImageSavedIsTheDevicesOrNotFinished) {
  for (int i = 0; i < 4096; ++i) device(0x21).eeprom[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13);
  test::TempDir dir;
  EepromEditor editor(*link);
  std::string file = dir.file("image.hex");
  vc.onPoll = nullptr;
  vc.pushKey("x");  // for a failure message, if one comes
  int r = editor.saveHex(file);
  std::string text = test::readFile(file);
  if (GetParam() <= 0.01) {
    EXPECT_EQ(r, 0);
  }
  if (r != 0) {
    EXPECT_EQ(text.find(":00000001FF"), std::string::npos);  // no end record: visibly unfinished
    return;
  }
  uint8_t image[4096];
  uint8_t flags[4096] = {};
  HexError error;
  ASSERT_EQ(parseHexImage(text, image, flags, 1, &error), 0);
  EXPECT_EQ(std::memcmp(image, device(0x21).eeprom.data(), 4096), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, NoisyLine, ::testing::Values(0.01, 0.05, 0.10));

// The device behind a TCP relay that is stopped and started again while the
// operator watches a live view: the view goes on by itself once the relay is
// back.
class RelayRestart : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());  // scale.bin lands here
    line.add(sim::SimDevice::make(0x21, 0x123456));
  }
  void TearDown() override {
    stopRelay();
    std::filesystem::current_path(saved);
    test::ScreenTest::TearDown();
  }
  bool startRelay(int wanted) {
    relay = std::make_unique<sim::BackgroundServer>(line, wanted);
    return relay->port() > 0;
  }
  void stopRelay() { relay.reset(); }

  test::TempDir dir;
  std::filesystem::path saved;
  sim::SimLine line;
  std::unique_ptr<sim::BackgroundServer> relay;
};

TEST_F(RelayRestart, ALiveViewRecoversWhenItsRelayComesBack) {
  ASSERT_TRUE(startRelay(0));
  const int relayPort = relay->port();
  DevLink link(0x21, "127.0.0.1:" + std::to_string(relayPort), 115200, QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
  ASSERT_EQ(link.initStatus, 1);
  UsoScreen uso(link);
  enum { kWatching, kRelayGone, kRelayBack, kRecovered } phase = kWatching;
  int good = 0, failed = 0;
  bool restarted = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  vc.onPoll = [&] {
    if (vc.keysLeft() != 0) return;
    bool answered = link.state->status == kAck && link.state->responseCommand == kViewTi;
    if (std::chrono::steady_clock::now() > deadline) {
      vc.pressKey(keys::kEsc);
      return;
    }
    switch (phase) {
      case kWatching:
        if (answered && ++good >= 3) {
          stopRelay();
          phase = kRelayGone;
        }
        break;
      case kRelayGone:
        if (!answered && ++failed >= 3) {
          restarted = startRelay(relayPort);
          phase = restarted ? kRelayBack : kRecovered;
          good = 0;
        }
        break;
      case kRelayBack:
        if (answered && ++good >= 3) phase = kRecovered;
        break;
      case kRecovered:
        vc.pressKey("x");
        break;
    }
  };
  uso.selectView(kScanF1);
  uso.run();
  vc.onPoll = nullptr;
  if (!restarted) GTEST_SKIP() << "the relay's port could not be had again";
  EXPECT_EQ(phase, kRecovered);
  EXPECT_GE(good, 3);
  EXPECT_GE(failed, 3);
}

}  // namespace
}  // namespace qs
