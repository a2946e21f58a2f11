// The reference installation: frames, typed values, the read thread's
// averaging, the test-point sequences against the simulated installation,
// and the programme files.
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>

#include "sim/loopback_channel.h"
#include "sim/zu_sim.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

using test::ScriptedChannel;

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class ZuFrames : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    auto ch = std::make_unique<ScriptedChannel>();
    channel = ch.get();
    ASSERT_EQ(zu.open(std::move(ch)), 0);  // the reset drains nothing and sends ">"
    channel->written.clear();
  }
  std::string sent() {
    std::string s(channel->written.begin(), channel->written.end());
    channel->written.clear();
    return s;
  }
  test::FakeClock clock;
  ScriptedChannel* channel = nullptr;
  ZuController zu;
};

TEST_F(ZuFrames, TranslationOfTheDisplay) {
  channel->feed({0x40, 0x40, 0x00});
  EXPECT_EQ(zu.readFrame(1, 5), 3);
  zu.decodeFrame();
  EXPECT_EQ(zu.frameText(), "");
  channel->feed({0x38, 0x45, 0x46, '.', 0x31, 0x40, 0x4E, 0x00});
  zu.readFrame(1, 5);
  EXPECT_EQ(zu.decodeFrame(), 1);
  EXPECT_EQ(zu.frameText(), "8UP.1=");
}

TEST_F(ZuFrames, ExpectSkipsOtherScreensAndGivesUpAfterEightEmptyPeriods) {
  for (int i = 0; i < 20; ++i) channel->feed(bytes(sim::encodeZuDisplay("8I") + '\0'));
  channel->feed(bytes(sim::encodeZuDisplay("8UP") + '\0'));
  EXPECT_FALSE(zu.expect("8UP"));
  for (int i = 0; i < 5; ++i) channel->feed(bytes(sim::encodeZuDisplay("8I") + '\0'));
  clock.sleeps.clear();
  EXPECT_TRUE(zu.expect("8UP"));
  EXPECT_EQ(clock.sleeps.size(), 8u * 50);  // eight periods of 50 empty reads
}

TEST_F(ZuFrames, AFrameLongerThanTheBufferIsCut) {
  channel->feed(std::vector<uint8_t>(400, '7'));
  EXPECT_EQ(zu.readFrame(1, 5), 254);
  zu.decodeFrame();
  EXPECT_EQ(zu.frameText(), std::string(253, '7'));
}

TEST_F(ZuFrames, TypedValuesAndTheirEchoes) {
  struct Case {
    int index;
    double value;
    bool decimals;
    const char* keys;
    const char* echo;
  } cases[] = {{5, -0.5, true, ";0:50", "5-0.50"}, {1, 220, true, "220", "1220"}, {5, 0.87, true, "0:87", "50.87"},
               {4, 1.004, true, "1", "41"},       {5, 0.999, true, "1:00", "51.00"}, {2, 100.5, false, "100", "2100"}};
  for (const auto& c : cases) {
    channel->feed(bytes(sim::encodeZuDisplay(c.echo) + '\0'));
    EXPECT_FALSE(zu.sendValue(c.index, c.value, c.decimals, true)) << c.echo;
    EXPECT_EQ(sent(), c.keys);
  }
  EXPECT_TRUE(zu.sendValue(1, 220, true, true));  // no echo: failure
  sent();
  EXPECT_FALSE(zu.sendValue(1, 220, true, false));
}

// A line that hands out frames pushed by the test, on the real clock.
struct FramePeer : sim::Peer {
  std::mutex m;
  std::deque<std::string> frames;
  void push(const std::string& text) {
    std::lock_guard<std::mutex> lock(m);
    frames.push_back(sim::encodeZuDisplay(text) + '\0');
  }
  void receive(const uint8_t*, size_t, uint32_t) override {}
  size_t take(uint8_t* out, size_t max, uint32_t) override {
    std::lock_guard<std::mutex> lock(m);
    size_t n = 0;
    while (n < max && !frames.empty()) {
      out[n++] = static_cast<uint8_t>(frames.front()[0]);
      frames.front().erase(0, 1);
      if (frames.front().empty()) frames.pop_front();
    }
    return n;
  }
  int nextDueIn(uint32_t) const override { return -1; }
};

class ZuReader : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    ASSERT_EQ(zu.open(std::make_unique<sim::LoopbackChannel>(peer)), 0);
    ASSERT_TRUE(zu.startReader());
    zu.resumeReader();
  }
  void TearDown() override {
    zu.close();
    test::ScreenTest::TearDown();
  }
  // Pushes a frame and waits until the reader has taken it.
  void value(const std::string& text) {
    peer.push(text);
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> lock(peer.m);
        if (peer.frames.empty()) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  FramePeer peer;
  ZuController zu;
};

TEST_F(ZuReader, AverageRestartsAtTheFourthValue) {
  value("810");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 10.0);
  value("820");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 15.0);
  // Keypad echoes and garbled frames hold no power: they are not averaged
  // in as 0 (nor "10T" as 10).
  for (const char* echo : {"8--CP--", "8U", "810T", "8", "81.2.3"}) value(echo);
  EXPECT_EQ(zu.avgCount, 2u);
  value("830");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 20.0);
  value("840");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 40.0);
  value("850");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 45.0);
  EXPECT_EQ(zu.newValue, 1);
}

TEST_F(ZuReader, ChannelValuesAndErrorFrames) {
  value("8C21.25");
  EXPECT_DOUBLE_EQ(zu.channelValues[1], 1.25);
  EXPECT_DOUBLE_EQ(zu.channelValues[0], 0.0);
  value("8YC3-0.5");
  EXPECT_DOUBLE_EQ(zu.channelValues[2], -0.5);
  // The installation could not measure a channel, or sent a value that is
  // no number: no number is published, never a measured 0.
  value("8YE123C2");
  EXPECT_TRUE(std::isnan(zu.channelValues[1]));
  value("8C31.2.3");
  EXPECT_TRUE(std::isnan(zu.channelValues[2]));
  value("8C30,75");
  EXPECT_DOUBLE_EQ(zu.channelValues[2], 0.75);
  value("8C47");
  value("7123");  // not a measuring frame
  EXPECT_EQ(zu.avgCount, 0u);
  EXPECT_DOUBLE_EQ(zu.channelValues[0], 0.0);
}

TEST_F(ZuReader, PausingClearsTheAverage) {
  value("812");
  zu.pauseReader();
  EXPECT_DOUBLE_EQ(*zu.avgValue, 0.0);
  EXPECT_EQ(zu.newValue, 0);
  peer.push("899");  // held back while paused
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(zu.avgCount, 0u);
  zu.resumeReader();  // the purge drops what came meanwhile
  value("88");
  EXPECT_DOUBLE_EQ(*zu.avgValue, 8.0);
}

// ---- sequences against the simulated installation --------------------------------------

class ZuBench : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    ASSERT_EQ(zu.open(std::make_unique<sim::LoopbackChannel>(installation)), 0);
    TestPoint a;
    a.number = 1;
    a.U = 220;
    a.Upct = 100;
    a.I = 5;
    a.Ipct = 100;
    a.PF = 1.0;
    TestPoint b = a;
    b.number = 2;
    b.Ipct = 50;
    TestPoint c = a;
    c.number = 3;
    c.PF = 0.5;
    c.loadType = kLoadCapacitive;
    c.Ipct = 5;
    zu.testPoints = {a, b, c};
    zu.testPointCount = 3;
    installation.keys.clear();
  }
  test::FakeClock clock;
  sim::ZuSim installation;
  ZuController zu;
};

TEST_F(ZuBench, FullSequenceTypesEveryFieldInOrder) {
  EXPECT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  EXPECT_EQ(installation.keys, ">\x80==220=100=@=5=100=C1==");
  EXPECT_EQ(zu.established, 1);
  EXPECT_TRUE(installation.measuring);
  EXPECT_DOUBLE_EQ(installation.U, 220);
  EXPECT_DOUBLE_EQ(installation.Ipct, 100);
  EXPECT_EQ(vc.text(80, 19, 7), "ЭУ7125М");
  EXPECT_EQ(vc.text(80, 24, 16), "V       = 220.00");
  EXPECT_EQ(vc.text(80, 27, 4), "Time");  // PF 1.0: no LOAD row
}

TEST_F(ZuBench, LoadCharacterAndAPowerFactorTypedWithoutItsEcho) {
  EXPECT_EQ(zu.setTestPoint(3, kPhaseA), 0);
  EXPECT_EQ(installation.keys, ">\xB0==220=100=@=5=5=C0:50=H==");
  EXPECT_EQ(installation.loadKey, 'H');
  EXPECT_EQ(vc.text(80, 27, 11), "LOAD    = C");
}

TEST_F(ZuBench, ChangingOnlyTheCurrentSendsOnlyTheCurrentBlock) {
  ASSERT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  installation.keys.clear();
  int resets = installation.resets;
  EXPECT_EQ(zu.setTestPoint(2, kPhaseABC), 0);
  EXPECT_EQ(installation.keys, "C=5=50=C");
  EXPECT_DOUBLE_EQ(installation.Ipct, 50);
  EXPECT_EQ(installation.resets, resets);
}

TEST_F(ZuBench, APhaseChangeToTwoPhasesIsRefusedAndTheFullSequenceFollows) {
  ASSERT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  installation.keys.clear();
  EXPECT_EQ(zu.setTestPoint(1, kPhaseAC), 0);
  EXPECT_NE(vc.transcript().find("Error ZU: -200 (ESC exit)"), std::string::npos);
  EXPECT_EQ(installation.phaseByte, 0x90);
  EXPECT_NE(installation.keys.find(">\x90==220=100=@=5=100=C1=="), std::string::npos);
}

TEST_F(ZuBench, UnknownTestPointsAndPhaseCodesSendNothing) {
  EXPECT_EQ(zu.setTestPoint(9, kPhaseABC), -3000);
  EXPECT_EQ(zu.setTestPoint(1, 7), -3000);
  EXPECT_TRUE(installation.keys.empty());
}

TEST_F(ZuBench, AScreenThatNeverComesRetriesUntilEsc) {
  installation.neverShow = "8IP";
  vc.onPoll = [&] {
    if (installation.resets >= 4 && vc.keysLeft() == 0) vc.pressKey(keys::kEsc);
  };
  EXPECT_EQ(zu.setTestPoint(1, kPhaseABC), kKeyEsc);
  EXPECT_NE(vc.transcript().find("Error ZU: -9 (ESC exit)"), std::string::npos);
}

TEST_F(ZuBench, PulseErrorOnAndOffOnlyOnce) {
  EXPECT_EQ(zu.pulseErrorOn(1), -1);  // nothing established yet
  ASSERT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  installation.keys.clear();
  EXPECT_EQ(zu.pulseErrorOn(1), 0);
  EXPECT_EQ(installation.keys, "=5=1=");
  EXPECT_TRUE(installation.pulseError);
  EXPECT_EQ(zu.pulseErrorOn(1), 0);
  EXPECT_EQ(installation.keys, "=5=1=");
  EXPECT_EQ(zu.pulseErrorOff(1), 0);
  EXPECT_FALSE(installation.pulseError);
  EXPECT_EQ(zu.pulseErrorOff(1), 0);
  EXPECT_EQ(installation.keys, "=5=1====");
}

TEST_F(ZuBench, SwitchingModeAsksTheOperator) {
  zu.mode = 0;
  EXPECT_EQ(zu.switchMode(0), 0);
  EXPECT_TRUE(installation.keys.empty());
  vc.pushKey("x");
  EXPECT_EQ(zu.switchMode(1), 0);
  EXPECT_EQ(zu.mode, 1);
  EXPECT_NE(vc.transcript().find("1) Переключите прибор ЭУ7125 в Реактивный режим."), std::string::npos);
  vc.pushKey(keys::kEsc);
  EXPECT_EQ(zu.switchMode(0), kKeyEsc);
  EXPECT_EQ(zu.mode, 1);
}

// A stand's bench counts a point's time from the moment its master began to
// set the installation, not from its own request, which may have waited for
// key a or for the other benches; a master that says nothing leaves the
// request's moment.
TEST(ZuOnAStand, APointIsTimedFromTheMastersSettingNotTheBenchsRequest) {
  struct Master : ZuMaster {
    test::FakeClock* clock = nullptr;
    bool says = true;
    uint32_t began = 0;
    bool isSlave() const override { return true; }
    int programmeVariant() const override { return 0; }
    void setProgrammeVariant(int) override {}
    int postStep(int, int, int, int) override {
      clock->advance(60000);  // the stand stood still for a minute
      began = clock->now();
      clock->advance(4000);  // the installation took 4 s to set the point
      return 0;
    }
    int postReset() override { return 0; }
    int postMode() override { return 0; }
    int postLoad(const std::string&, int, int, int) override { return 0; }
    int postIdle() override { return 0; }
    int postLeaveCalibration() override { return 0; }
    bool stepBegan(uint32_t* tick) const override {
      if (says) *tick = began;
      return says;
    }
  };
  test::FakeClock clock;
  Master master;
  master.clock = &clock;
  ZuController zu;
  zu.sync = &master;
  ASSERT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  EXPECT_EQ(zu.pointSetBegan, master.began);
  master.says = false;
  uint32_t asked = clock.now();
  ASSERT_EQ(zu.setTestPoint(1, kPhaseABC), 0);
  EXPECT_EQ(zu.pointSetBegan, asked);
  zu.sync = nullptr;
}

// ---- programme files ---------------------------------------------------------------------

class Programmes : public test::ScreenTest {
 protected:
  int load(const std::string& key, int identity, int variant, int group) {
    return zu.loadProgramme(dir.file("QS_ADD/common1.sch"), key, identity, variant, group);
  }
  test::TempDir dir;
  ZuController zu;
};

TEST_F(Programmes, KeyLinesIdentityColumnsAndGroups) {
  dir.write("QS_ADD/common1.sch",
            "## programmes\n"
            "Ver:x\t1\t2\t3\tfirst\tone.txt\ttwo.txt\t\n"
            "Ver:x\t1\t2\t3\tsecond\tother.txt\t\n"
            "ver_vrf:x\t-1\t0\t0\ttitle\tg0.txt\tg1.txt\tg2.txt\n");
  dir.write("QS_ADD/one.txt", "A1_1\t230\t100\t5\t100\t1.0\tC\t0\t0\t0\t5\n");
  dir.write("QS_ADD/two.txt", "A1_7\t57\t100\t1\t10\t0.5\tL\t0\t0\t0\tac\nA1_8\t57\t100\t1\t10\t0.5\tN\t0\t0\t0\tCA\n");
  dir.write("QS_ADD/g2.txt", "A1_3\t230\t100\t5\t100\t0.8\tC\nA2_5\t230\t100\t5\t100\t0.8\tC\n");
  EXPECT_EQ(load("Ver", 66051, 0, 0), 0);
  ASSERT_EQ(zu.testPoints.size(), 1u);
  EXPECT_EQ(zu.testPoints[0].phases, kPhaseAC);  // "5": A and C
  EXPECT_EQ(zu.testPoints[0].loadType, kLoadNone);  // C with PF 1.0
  EXPECT_EQ(load("Ver", 66051, 1, 0), 0);          // variant 1: second column
  ASSERT_EQ(zu.testPoints.size(), 2u);
  EXPECT_EQ(zu.testPoints[0].number, 7);
  EXPECT_EQ(zu.testPoints[0].phases, kPhaseAC);    // "ac"
  EXPECT_EQ(zu.testPoints[1].phases, kPhaseABC);   // "CA" keeps the default
  EXPECT_EQ(zu.testPoints[1].loadType, kLoadNone);
  EXPECT_EQ(zu.testPoints[0].loadType, kLoadInductive);
  EXPECT_EQ(load("Ver_Vrf", -65536, 2, 2), 0);     // third name column, group filter 1, U of variant 2
  ASSERT_EQ(zu.testPoints.size(), 1u);
  EXPECT_EQ(zu.testPoints[0].number, 3);
  EXPECT_DOUBLE_EQ(zu.testPoints[0].U, 127.0);
  EXPECT_EQ(zu.testPoints[0].phases, kPhaseA);     // the line ended before field 9
  EXPECT_NE(vc.transcript().find("Name Load File: "), std::string::npos);
}

TEST_F(Programmes, FailuresLeaveNoTestPoints) {
  EXPECT_EQ(load("Ver", 1, 0, 0), -1);  // no settings file
  dir.write("QS_ADD/common1.sch", "Ver:x\t0\t0\t1\tt\tmissing.txt\t\n");
  EXPECT_EQ(load("Ver", 2, 0, 0), -2);
  EXPECT_EQ(load("Ver", 1, 0, 0), -3);
  dir.write("QS_ADD/missing.txt", "## nothing but comments\n\nA2_5\t1\t1\t1\t1\t1\tN\n");
  EXPECT_EQ(load("Ver", 1, 0, 1), -1);  // group filter 1 skips A2_5
  EXPECT_EQ(zu.setTestPoint(5, kPhaseABC), -3000);
  EXPECT_EQ(load("Ver", 1, 0, 0), 0);   // no filter: taken
}

TEST_F(Programmes, PortSetting) {
  uint8_t port[2] = {9, 9};
  EXPECT_EQ(zu.readPortSetting(dir.file("none.sch"), port), -1);
  EXPECT_EQ(zu.readPortSetting(dir.file("none.sch"), nullptr), -22);
  dir.write("QS_ADD/common1.sch", "Task_1:\t0\t21\t\n");
  EXPECT_EQ(zu.readPortSetting(dir.file("QS_ADD/common1.sch"), port), 0);
  EXPECT_EQ(port[1], 0);  // no Port_ZU line: automatic work off
  dir.write("QS_ADD/common1.sch", "Port_ZU:x\t3\t1\t0\t\nPort_ZU:x\t5\t1\t\n");
  EXPECT_EQ(zu.readPortSetting(dir.file("QS_ADD/common1.sch"), port), 0);
  EXPECT_EQ(port[0], 5);
  EXPECT_EQ(port[1], 1);
}

}  // namespace
}  // namespace qs
