// The device link reads as soon as the device answers and waits for it as
// long as it always did: a device that answers at once and one that answers
// at the last moment of each command's time give the same values; an answer
// in bursts within that time, or behind a frame of another address, is read;
// a silent device fails after as many attempts as ever. Over a
// pseudo-terminal paced like a UART.
#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>

#include "devlink/dev_link.h"
#include "sim/device_sim.h"
#include "sim/serve.h"
#include "support/test_support.h"

namespace qs {
namespace {

#ifndef _WIN32
class AnswerDeadline : public test::ScreenTest {
 protected:
  void serve(bool late, const sim::Faults& faults = {}) {
    server.reset();
    line = std::make_unique<sim::SimLine>();
    sim::SimDevice d = sim::SimDevice::make(0x21, 0x654321);
    d.clockStands = true;
    d.clockOffset = 1772355600;  // 2026-03-01 09:00 UTC: the same day for both reads
    d.answerLate = late;
    line->add(d);
    line->baud = 115200;
    line->setFaults(faults);
    server = std::make_unique<sim::BackgroundServer>(*line, -1);
    link = std::make_unique<DevLink>(0x21, server->endpoint(), 115200, QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
    ASSERT_EQ(link->initStatus, 1);
  }
  void TearDown() override {
    link.reset();
    server.reset();
    test::ScreenTest::TearDown();
  }
  // Everything an operator reads of the device, as text.
  std::string readAll(int days) {
    std::ostringstream out;
    out << link->readSerialNumber(1) << ' ' << link->readDeviceType(1) << '\n';
    double v[16];
    out << link->readCurrentValues(v);
    for (double x : v) out << ' ' << x;
    ProfileRecord totals;
    out << '\n' << link->readTotalsSinceStart(&totals);
    for (double x : totals.sums) out << ' ' << x;
    int64_t now = 0;
    out << '\n' << link->readDeviceTime(&now) << ' ' << now << '\n';
    for (int day = 1; day <= days; ++day) {
      ProfileRecord rec;
      out << link->readDayProfile(now - day * 86400, &rec) << ' ' << rec.receivedEntries << ' ' << rec.time;
      for (const ProfileEntry& e : rec.entries)
        for (double x : e.values) out << ' ' << x;
      out << '\n';
    }
    uint8_t eeprom[4096];
    for (int block = 0; block < 32; ++block) out << link->readEepromBlock(block * 128, 128, eeprom + block * 128);
    out << ' ' << std::string(reinterpret_cast<char*>(eeprom), sizeof eeprom);
    return out.str();
  }

  std::unique_ptr<sim::SimLine> line;
  std::unique_ptr<sim::BackgroundServer> server;
  std::unique_ptr<DevLink> link;
};

TEST_F(AnswerDeadline, ADeviceAnsweringAtTheLastMomentReadsAsOneAnsweringAtOnce) {
  serve(false);
  std::string prompt = readAll(45);
  serve(true);
  std::string late = readAll(45);
  size_t at = 0;
  while (at < prompt.size() && at < late.size() && prompt[at] == late[at]) ++at;
  EXPECT_EQ(at, prompt.size()) << "the reads differ from " << prompt.substr(at > 60 ? at - 60 : 0, 160) << "\n---\n"
                               << late.substr(at > 60 ? at - 60 : 0, 160);
  EXPECT_EQ(prompt.size(), late.size());
  EXPECT_NE(prompt.find("\n0 48 "), std::string::npos);  // whole days were read
}

TEST_F(AnswerDeadline, AnswersInBurstsOrBehindAnotherAddressAreRead) {
  sim::Faults bursts;
  bursts.burstGapMs = 40;  // every frame in two halves 40 ms apart, within a day's 500 ms
  serve(false, bursts);
  int64_t now = 1772355600;
  ProfileRecord rec;
  EXPECT_EQ(link->readDayProfile(now - 2 * 86400, &rec), 0);
  EXPECT_EQ(rec.receivedEntries, 48);
  sim::Faults foreign;
  foreign.foreignFirst = true;
  serve(false, foreign);
  EXPECT_EQ(link->readSerialNumber(1), 0x654321);
  size_t before = line->requests.size();
  ProfileRecord other;
  EXPECT_EQ(link->readDayProfile(now - 2 * 86400, &other), 0);
  EXPECT_EQ(other.receivedEntries, 48);
  EXPECT_EQ(line->requests.size(), before + 1);  // at the first request
}

TEST_F(AnswerDeadline, ASilentDeviceFailsAfterAsManyAttemptsAndNoSooner) {
  serve(false);
  line->silent = true;
  size_t before = line->requests.size();
  auto start = std::chrono::steady_clock::now();
  EXPECT_LT(link->readSerialNumber(1), 0);  // (three attempts)
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(line->requests.size() - before, 3u);
  // Each attempt waited the command's 30 ms and the 5 ms before reading.
  EXPECT_GE(ms, 3 * 35.0);
}
#endif

}  // namespace
}  // namespace qs
