// Device operations against the in-process simulated line, on a recorded
// clock: attempts, pauses, Esc, caches and results.
#include <cstring>

#include "console/bytes.h"
#include "devlink/dev_link.h"
#include "devlink/local_time.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "support/sim_bench.h"

namespace qs {
namespace {

class Operations : public test::SimBench {
 protected:
  void addDevices() override {
    line.add(sim::SimDevice::make(0x21, 0x123456));
    line.add(sim::SimDevice::make(0x22, 0x0ABC01));
  }
  size_t sent() const { return line.requests.size(); }
  sim::SimDevice& device() { return *line.find(link->state->address); }
};

TEST_F(Operations, SerialNumberIsCachedUntilForced) {
  EXPECT_EQ(link->readSerialNumber(0), 0x123456);
  EXPECT_EQ(sent(), 1u);
  EXPECT_EQ(link->readSerialNumber(0), 0x123456);
  EXPECT_EQ(sent(), 1u);  // from the cache
  EXPECT_EQ(link->readSerialNumber(1), 0x123456);
  EXPECT_EQ(sent(), 2u);
}

TEST_F(Operations, SerialNumberLostThreeTimes) {
  line.silent = true;
  clock.sleeps.clear();
  EXPECT_EQ(link->readSerialNumber(1), -1);
  EXPECT_EQ(sent(), 3u);
  EXPECT_EQ(link->cachedSerial, kNoSerial);
}

TEST_F(Operations, EscWhileWaitingGivesUp) {
  line.silent = true;
  vc.pressKey("x");  // a stray key is dropped, Esc ends it
  vc.pressKey(keys::kEsc);
  EXPECT_EQ(link->readDeviceTime(nullptr), -27);
  EXPECT_EQ(sent(), 1u);
  EXPECT_EQ(vc.keysLeft(), 0u);
}

TEST_F(Operations, SerialTextInBothForms) {
  EXPECT_EQ(link->readSerialText(1), 0x123456);
  link->selectAddress(0x22);
  EXPECT_EQ(link->readSerialText(1), 0x0ABC01);
  line.silent = true;
  EXPECT_EQ(link->readSerialText(1), -1);
  EXPECT_EQ(link->cachedSerial, kNoSerial);
}

TEST_F(Operations, DeviceTypeRules) {
  EXPECT_EQ(link->readDeviceType(0), 3);  // without force: the cache, not the device
  EXPECT_EQ(sent(), 0u);
  EXPECT_EQ(link->readDeviceType(1), 1);
  EXPECT_EQ(link->readDeviceType(1), 1);  // a known type is not asked again
  EXPECT_EQ(sent(), 1u);
  link->cachedDeviceType = 3;
  line.typeOverride = 0xFF;
  EXPECT_EQ(link->readDeviceType(1), 0xFF);
  EXPECT_EQ(sent(), 12u);
  EXPECT_EQ(link->cachedDeviceType, 1);
}

// What was read of a device belongs to its address: another device's type,
// serial number and coefficients are read from it, and totals are scaled
// only by the coefficients of the device they came from.
TEST_F(Operations, WhatWasReadBelongsToAnAddress) {
  line.find(0x22)->type = 0;
  line.find(0x21)->setCoefficient(0, 2.0f);
  line.find(0x22)->setCoefficient(0, 0.5f);
  EXPECT_EQ(link->readDeviceType(1), 1);
  ProfileRecord first;
  ASSERT_EQ(link->readTotalsSinceStart(&first), 0);  // the coefficients are read first
  link->selectAddress(0x22);
  EXPECT_EQ(link->readDeviceType(1), 0);
  EXPECT_EQ(link->readSerialNumber(0), 0x0ABC01);
  ProfileRecord second;
  ASSERT_EQ(link->readTotalsSinceStart(&second), 0);
  const sim::SimDevice& d = *line.find(0x22);
  EXPECT_DOUBLE_EQ(second.sums[0], d.totalsSinceStart[0] * 0.5);
  EXPECT_DOUBLE_EQ(first.sums[0], line.find(0x21)->totalsSinceStart[0] * 2.0);
  // Coefficients that do not come: the totals are not shown scaled by none.
  link->selectAddress(0x21);
  line.silent = true;
  EXPECT_EQ(link->readTotalsThisMonth(&first), kNoCoefficients);
}

TEST_F(Operations, RatiosAreFourDigitTexts) {
  EXPECT_EQ(link->readRatioU(), 1);
  EXPECT_EQ(link->readRatioI(), 20);
  EXPECT_EQ(link->writeRatioU(7), 0);
  EXPECT_EQ(std::string(device().eeprom.begin() + 52, device().eeprom.begin() + 56), "0007");
  EXPECT_EQ(link->writeRatioI(12345), 0);
  EXPECT_EQ(std::string(device().eeprom.begin() + 60, device().eeprom.begin() + 65), "12345");
  EXPECT_EQ(link->readRatioU(), 7);
}

TEST_F(Operations, EepromBlocks) {
  uint8_t block[128];
  EXPECT_EQ(link->readEepromBlock(0x700, 128, block), 0);
  EXPECT_EQ(std::memcmp(block + 0x40, "YCOTM", 5), 0);
  uint8_t data[17] = {1, 2, 3};
  EXPECT_EQ(link->writeEepromBlock(0x100, 3, data), 0);
  EXPECT_EQ(device().eeprom[0x101], 2);
  size_t before = sent();
  EXPECT_EQ(link->writeEepromBlock(0x100, 17, data), -1);  // 17 bytes are never sent
  EXPECT_EQ(sent(), before);
}

TEST_F(Operations, EepromBlockFailureCodes) {
  line.silent = true;
  uint8_t block[16];
  EXPECT_EQ(link->readEepromBlock(0, 16, block), -10001);
  vc.pressKey(keys::kEsc);
  EXPECT_EQ(link->readEepromBlock(0, 16, block), 16);  // Esc before any failure: the count
}

TEST_F(Operations, CurrentValuesAreScaled) {
  device().currentRaw[0] = 12345;
  device().currentRaw[6] = 1234;
  device().currentRaw[9] = 2205;
  double v[16];
  EXPECT_EQ(link->readCurrentValues(v), 0);
  EXPECT_DOUBLE_EQ(v[0], 1234.0);
  EXPECT_NEAR(v[6], 1.23, 1e-12);
  EXPECT_DOUBLE_EQ(v[9], 220.0);
  EXPECT_EQ(link->readCurrentValues(nullptr), -1);
}

TEST_F(Operations, CurrentValuesGiveUpOnASilentLine) {
  line.silent = true;
  double v[16];
  EXPECT_EQ(link->readCurrentValues(v), -1);
  EXPECT_EQ(sent(), 6u);
  vc.pressKey(keys::kEsc);
  EXPECT_EQ(link->readCurrentValues(v), -27);
}

TEST_F(Operations, VersionDigits) {
  EXPECT_EQ(link->readVersion(1), 0x010002);
  EXPECT_EQ(link->versionMajor, 1);
  EXPECT_EQ(link->versionBuild, 2);
  line.silent = true;
  EXPECT_EQ(link->readVersion(0), 0x010002);  // stored digits
  EXPECT_EQ(link->readVersion(1), 1);         // failed read: 0.0.1
}

TEST_F(Operations, CoefficientsRoundTrip) {
  EXPECT_EQ(link->readCoefficient(16), -1);
  EXPECT_EQ(link->writeCoefficient(16, 1.0), -1);
  EXPECT_EQ(sent(), 0u);
  EXPECT_EQ(link->readAllCoefficients(), 0);
  EXPECT_DOUBLE_EQ(link->coefficients[0], 1.0);
  EXPECT_NEAR(link->coefficients[15], 0.024, 1e-7);
  EXPECT_EQ(link->writeCoefficient(3, 2.5), 0);
  EXPECT_FLOAT_EQ(device().coefficient(3), 2.5f);
  double back = 0;
  EXPECT_EQ(link->readCoefficient(3, &back), 0);
  EXPECT_DOUBLE_EQ(back, 2.5);
}

TEST_F(Operations, CoefficientThatAFloatCannotHoldIsWrittenUntilEsc) {
  vc.onPoll = [&] {
    if (sent() > 40) vc.pressKey(keys::kEsc);
  };
  EXPECT_EQ(link->writeCoefficient(2, 123456789.123), -27);
}

TEST_F(Operations, TotalsAreScaledByTheCoefficients) {
  device().setCoefficient(0, 2.0f);
  device().setCoefficient(3, 0.5f);
  ASSERT_EQ(link->readAllCoefficients(), 0);
  ProfileRecord rec;
  EXPECT_EQ(link->readTotalsSinceStart(&rec), 0);
  EXPECT_DOUBLE_EQ(rec.sums[0], 2.0 * static_cast<double>(device().totalsSinceStart[0]));
  EXPECT_DOUBLE_EQ(rec.sums[3], 0.5 * static_cast<double>(device().totalsSinceStart[3]));
  EXPECT_EQ(link->readTotalsThisMonth(&rec), 0);
  EXPECT_DOUBLE_EQ(rec.sums[1], 2.0 * static_cast<double>(device().totalsThisMonth[1]));
  line.silent = true;
  size_t before = sent();
  EXPECT_EQ(link->readTotalsThisMonth(&rec), -1);
  EXPECT_EQ(sent() - before, 4u);
}

TEST_F(Operations, AddressChanges) {
  EXPECT_EQ(link->changeAddress(0x35), 0);
  EXPECT_EQ(link->deviceAddress, 0x35);
  EXPECT_NE(line.find(0x35), nullptr);
  EXPECT_EQ(link->readSerialNumber(1), 0x123456);

  EXPECT_EQ(link->changeAddressBySerial(0x44, 0x0ABC01), 0);
  EXPECT_EQ(link->deviceAddress, 0x44);
  EXPECT_EQ(line.find(0x44)->serial, 0x0ABC01u);
  EXPECT_EQ(line.requests.back()[2], 254);

  EXPECT_EQ(link->changeAddressBySerial(0x55, 0x999999), -1);  // nobody has that number
  EXPECT_EQ(link->deviceAddress, 0x44);
  line.silent = true;
  EXPECT_EQ(link->changeAddress(0x66), -1);
  EXPECT_EQ(link->deviceAddress, 0x44);
}

TEST_F(Operations, ClockSetAndRead) {
  int64_t wanted = fromLocalTime(2030, 6, 1, 12, 0, 0);
  EXPECT_EQ(link->setDeviceTime(wanted), 0);
  int64_t t = 0;
  EXPECT_EQ(link->readDeviceTime(&t), 0);
  EXPECT_NEAR(static_cast<double>(t), static_cast<double>(wanted), 3.0);

  // Each attempt sends the time as it is then: three lost answers, ten
  // seconds before each attempt, and the device is set to the last one.
  line.requests.clear();
  line.dropAnswers = {line.answersMade, line.answersMade + 1, line.answersMade + 2};
  vc.onPoll = [this] { clock.advance(10000); };
  EXPECT_EQ(link->setDeviceTime(wanted), 0);
  vc.onPoll = nullptr;
  ASSERT_EQ(line.requests.size(), 4u);
  auto seconds = [](const std::vector<uint8_t>& frame) {
    return fromBcd(frame[7]) * 3600 + fromBcd(frame[8]) * 60 + fromBcd(frame[9]);
  };
  EXPECT_NEAR(seconds(line.requests[3]) - seconds(line.requests[0]), 30, 1);
  EXPECT_EQ(link->readDeviceTime(&t), 0);
  EXPECT_NEAR(static_cast<double>(t), static_cast<double>(wanted + 40), 3.0);
}

TEST_F(Operations, DayProfileOfYesterdayAndOfADayWithoutData) {
  int64_t yesterday = static_cast<int64_t>(std::time(nullptr)) - 86400;
  ProfileRecord rec;
  EXPECT_EQ(link->readDayProfile(yesterday, &rec), 0);
  EXPECT_EQ(rec.expectedEntries, 48);
  EXPECT_EQ(rec.receivedEntries, 48);
  int32_t v[4];
  std::tm tm = localTime(yesterday);
  int64_t day = fromLocalTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, 0, 0);
  device().profileValues(day, 17, v);
  EXPECT_DOUBLE_EQ(rec.entries[16].values[0], v[0] * 0.1);
  EXPECT_EQ(rec.time, day);

  ProfileRecord none;
  EXPECT_EQ(link->readDayProfile(yesterday - 400 * 86400, &none), 0);
  EXPECT_EQ(none.expectedEntries, 0);
  EXPECT_EQ(none.receivedEntries, 0);
  EXPECT_EQ(none.blockStatus, kNak);
}

TEST_F(Operations, DayProfileRetriesFromACleanRecord) {
  line.dropAnswers = {2};  // the third block of the first answer is lost
  int64_t yesterday = static_cast<int64_t>(std::time(nullptr)) - 86400;
  ProfileRecord rec;
  EXPECT_EQ(link->readDayProfile(yesterday, &rec), 0);
  EXPECT_EQ(rec.receivedEntries, 48);
  EXPECT_EQ(line.requests.size(), 2u);
}

TEST_F(Operations, ProfileFormatReportsProgressThenFinishes) {
  device().formatTables = 3;
  EXPECT_EQ(link->startProfileFormat(), 0);
  uint32_t k = 0, n = 0;
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  int r;
  for (int i = 0; i < 20 && (r = link->pollProfileFormat(&k, &n)) != 1; ++i) {
    if (r == 0) seen.emplace_back(k, n);
    else clock.advance(100);
  }
  EXPECT_EQ(r, 1);
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0], std::make_pair(1u, 3u));
  EXPECT_EQ(seen[5], std::make_pair(3u, 3u));
}

}  // namespace
}  // namespace qs
