// The device-link frame layer: encoding, the receiver's tolerance and the
// decoding of answers.
#include <gtest/gtest.h>

#include <cstring>

#include "devlink/dev_link.h"
#include "devlink/frames.h"
#include "devlink/local_time.h"
#include "sim/device_sim.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"

namespace qs {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ScriptedChannel;

class Frames : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ch = std::make_unique<ScriptedChannel>();
    channel = ch.get();
    std::string reg = dir.write("reg.txt", "AWATTHR\t0x01\t16\t1\t$0000\t2\t0\n");
    link = std::make_unique<DevLink>(0x21, std::move(ch), reg);
    ASSERT_EQ(link->initStatus, 1);
  }
  Bytes request(int code, const RequestArgs& a = {}) {
    channel->written.clear();
    sendRequest(*link, nullptr, code, a);
    return channel->written;
  }
  // Sends `code`, then answers it with `payload` and decodes.
  int exchange(int code, const Bytes& payload, const RequestArgs& a = {}) {
    request(code, a);
    channel->feed(sim::makeFrame(static_cast<uint8_t>(code & 0xFF), link->state->address, payload));
    return receiveResponse(*link);
  }
  test::TempDir dir;
  test::FakeClock clock;
  ScriptedChannel* channel = nullptr;
  std::unique_ptr<DevLink> link;
};

TEST(FrameChecksum, KnownValues) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(frameChecksum(abc, 3), 0x1EE4);
  const uint8_t serial[] = {0x70, 0x21, 0x00};
  EXPECT_EQ(frameChecksum(serial, 3), 0x5F97);
}

TEST_F(Frames, RequestsOnTheWire) {
  EXPECT_EQ(request(0x70), (Bytes{0x5B, 0x70, 0x21, 0x00, 0x5F, 0x97}));
  RequestArgs a;
  a.a1 = 0x35;
  a.a2 = 10;
  EXPECT_EQ(request(0x7B, a), (Bytes{0x5B, 0x7B, 0x21, 0x02, 0x35, 0x0A, 0x08, 0x66}));
  EXPECT_EQ(link->state->pendingAddress, 0x35);

  a = {};
  a.a1 = 0x35;
  a.a2 = 10;
  a.a3 = 0xABCDEF;
  Bytes bySerial = request(kSerialByNumberCode, a);
  EXPECT_EQ(Bytes(bySerial.begin() + 1, bySerial.begin() + 9), (Bytes{0x7B, 0x21, 0x05, 0xAB, 0xCD, 0xEF, 0x35, 0x0A}));

  Bytes format = request(0x7F);
  EXPECT_EQ(Bytes(format.begin() + 3, format.end() - 2), (Bytes{0x03, 0x21, 0x55, 0xAA}));

  a = {};
  a.a1 = 0x1234;
  a.a2 = 3;
  uint8_t data[3] = {9, 8, 7};
  a.data = data;
  Bytes write = request(0x6C, a);
  EXPECT_EQ(Bytes(write.begin() + 3, write.end() - 2), (Bytes{0x05, 0x12, 0x34, 9, 8, 7}));

  a = {};
  a.a1 = 0x05;
  a.a2 = 3;
  a.a3 = 0x010203;
  a.a4 = 0xEE;
  Bytes reg = request(0x73, a);
  EXPECT_EQ(Bytes(reg.begin() + 3, reg.end() - 2), (Bytes{0x05, 0x05, 0xEE, 0x01, 0x02, 0x03}));

  a = {};
  a.a1 = 4;
  a.a2 = 0x10;
  EXPECT_EQ(request(0x84, a)[3], 2);
  a.a2 = 0x11;
  EXPECT_EQ(request(0x84, a)[3], 1);

  a = {};
  a.a1 = 32;
  a.value = 1.5;
  Bytes f = request(0x78, a);
  EXPECT_EQ(Bytes(f.begin() + 4, f.end() - 2), (Bytes{0x00, 0x20, 0x00, 0x00, 0xC0, 0x3F}));
}

TEST_F(Frames, ClockAndProfileRequestsCarryLocalTime) {
  int64_t t = fromLocalTime(2026, 3, 14, 15, 9, 26);
  RequestArgs a;
  a.a1 = static_cast<uint32_t>(t);
  Bytes set = request(0x80, a);
  EXPECT_EQ(Bytes(set.begin() + 4, set.end() - 2), (Bytes{0x26, 0x03, 0x14, 0x15, 0x09, 0x26}));
  a.a2 = 0x30;
  a.a3 = 0x00;
  a.a4 = 0x30;
  Bytes day = request(0xA4, a);
  EXPECT_EQ(Bytes(day.begin() + 4, day.end() - 2), (Bytes{0x26, 0x03, 0x14, 0x00, 0x30, 0x26, 0x30}));
}

TEST_F(Frames, EveryRequestGivesItsAnswerItsTime) {
  struct Case {
    int code;
    uint32_t a2;
    uint32_t pause;
  } cases[] = {{0x71, 0, 10}, {0x70, 0, 30}, {0x86, 0, 30}, {0x79, 0, 100}, {0xA2, 0, 100},
               {0x6F, 128, 35}, {0x6C, 16, 13}, {0x77, 1, 50}, {0x7B, 0, 50}, {0xA4, 0x30, 500}};
  for (const auto& c : cases) {
    clock.sleeps.clear();
    RequestArgs a;
    a.a2 = c.a2;
    ASSERT_GT(sendRequest(*link, nullptr, c.code, a), 0) << c.code;
    // No pause: the receiver reads at once, and waits until the deadline.
    EXPECT_TRUE(clock.sleeps.empty()) << std::hex << c.code;
    EXPECT_EQ(link->state->answerDue - clock.now(), c.pause) << std::hex << c.code;
  }
}

TEST_F(Frames, CodesWithoutAnEncodingSendNothing) {
  for (int code : {0x3F, 0x40, 0x6B, 0x82, 0xA6, 0xFF, 0x17B}) {
    channel->written.clear();
    EXPECT_EQ(sendRequest(*link, nullptr, code), -1) << code;
    EXPECT_TRUE(channel->written.empty());
  }
  RequestArgs a;
  a.a2 = 17;
  uint8_t data[17] = {};
  a.data = data;
  EXPECT_EQ(sendRequest(*link, nullptr, 0x6C, a), -108);
  EXPECT_TRUE(channel->written.empty());
  EXPECT_EQ(link->state->sentLength, 0);
  EXPECT_EQ(receiveResponse(*link), -1);
}

TEST_F(Frames, SerialNumberAnswer) {
  request(0x70);
  channel->feed({0x5B, 0x70, 0x21, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(link->state->serialNumber, 0x123456u);
  EXPECT_STREQ(link->state->serialText, "123456");
  EXPECT_EQ(link->state->status, kAck);
  EXPECT_EQ(exchange(0x70, {0x12, 0x34}), 0x7000);
}

TEST_F(Frames, AddressChangeOnlyWhenEchoed) {
  RequestArgs a;
  a.a1 = 0x35;
  a.a2 = 10;
  EXPECT_EQ(exchange(0x7B, {0x35, 0x0B}, a), 0x7B02);
  EXPECT_EQ(link->state->address, 0x21);
  EXPECT_EQ(exchange(0x7B, {0x36, 0x0A}, a), 0x7B01);
  EXPECT_EQ(exchange(0x7B, {0x35}, a), 0x7B00);
  EXPECT_EQ(exchange(0x7B, {0x35, 0x0A}, a), 0);
  EXPECT_EQ(link->state->address, 0x35);
  EXPECT_EQ(link->state->addressExtra, 10);
}

// Until the request's deadline (30 ms for 0x70) a quiet line is waited
// through, in gaps of any length; after it the line may be quiet four
// polls of 3 ms at a stretch, not five.
TEST_F(Frames, ReceiverWaitsOutTheDeadlineThenToleratesFourGaps) {
  request(0x70);
  channel->feed({0x00, 0xFF});  // noise before the start byte
  channel->gaps(9);              // 27 ms
  channel->feed({0x5B, 0x70, 0x21});
  channel->gaps(5);              // the deadline, then four polls
  channel->feed({0x03, 0x12});
  channel->gaps(4);
  channel->feed({0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), 0);

  request(0x70);
  clock.advance(30);
  channel->feed({0x5B, 0x70});
  channel->gaps(5);
  channel->feed({0x21, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), -10001);
  // A silent device: the whole time, then four polls.
  request(0x70);
  uint32_t sent = clock.now();
  EXPECT_EQ(receiveResponse(*link), -10001);
  EXPECT_EQ(clock.now() - sent, 30u + 12u);
}

TEST_F(Frames, AnotherAddressIsIgnoredUntilANewStartByte) {
  request(0x70);
  channel->feed({0x5B, 0x70, 0x22, 0x03, 0x12, 0x34, 0x56});  // someone else's answer
  channel->feed({0x5B, 0x70, 0x21, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(link->state->serialNumber, 0x123456u);

  request(0x70);
  channel->feed({0x5B, 0x70, 0x22, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), -10001);
}

TEST_F(Frames, NoiseThatFillsTheBufferFails) {
  request(0x70);
  channel->feed(Bytes(1100, 0x11));
  channel->feed({0x5B, 0x70, 0x21, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF5});
  EXPECT_EQ(receiveResponse(*link), -10001);
  EXPECT_EQ(channel->polls, 1024);
}

TEST_F(Frames, ChecksumAndCommandMismatch) {
  request(0x70);
  channel->feed({0x5B, 0x70, 0x21, 0x03, 0x12, 0x34, 0x56, 0xA0, 0xF6});
  EXPECT_EQ(receiveResponse(*link), -10002);
  // No request at all for this state: nothing is waited for.
  link->state->sentLength = 0;
  int polls = channel->polls;
  EXPECT_EQ(receiveResponse(*link), -1);
  EXPECT_EQ(channel->polls, polls);
}

TEST_F(Frames, AcknowledgementsAndRefusals) {
  EXPECT_EQ(exchange(0x75, {kAck}), 0);
  EXPECT_EQ(link->state->status, kAck);
  clock.sleeps.clear();
  EXPECT_EQ(exchange(0x6C, {kNak}), -3);
  EXPECT_EQ(link->state->status, kNak);
  EXPECT_EQ(clock.sleeps.back(), 500u);
  EXPECT_NE(exchange(0x75, {}), 0);  // an empty acknowledgement is no acknowledgement
}

TEST_F(Frames, QuantityReadIsFollowedByItsDataFrame) {
  RequestArgs a;
  a.a1 = 4;
  a.a2 = 0x10;
  request(0x84, a);
  channel->feed(sim::makeFrame(0x84, 0x21, {kAck}));
  EXPECT_EQ(receiveResponse(*link), 0);
  // Only a 0x98 frame is taken now.
  channel->feed(sim::makeFrame(0x84, 0x21, {kAck}));
  EXPECT_EQ(receiveResponse(*link), -10001);
  channel->feed(sim::makeFrame(0x98, 0x21, {0, 0, 0, 40, 0, 0, 0, 80, 0, 0, 1, 0}));
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(link->state->results[9], 10u);
  EXPECT_EQ(link->state->results[10], 20u);
  EXPECT_EQ(link->state->results[11], 64u);
  EXPECT_EQ(link->state->results[0], 0u);
}

TEST_F(Frames, SerialTextIsNormalised) {
  EXPECT_EQ(exchange(0x5F, {'0', '4', '2', '0', '0', '7'}), 0);
  EXPECT_STREQ(link->state->textBuffer.data(), "042007");
  EXPECT_EQ(exchange(0x5F, {'S', 'N', ':', 0x0A, 0xBC, 0x01}), 0);
  EXPECT_STREQ(link->state->textBuffer.data(), "0abc01");
  // A short text never shows bytes of an earlier answer.
  EXPECT_EQ(exchange(0x5F, {'x'}), 0);
  EXPECT_STREQ(link->state->textBuffer.data(), "000000");
}

TEST_F(Frames, EepromAnswerShorterThanItsAddressCopiesNothing) {
  RequestArgs a;
  a.a1 = 52;
  a.a2 = 4;
  EXPECT_EQ(exchange(0x6F, {0x00, 0x34, '0', '0', '2', '0'}, a), 0);
  EXPECT_STREQ(link->state->textBuffer.data(), "0020");
  EXPECT_EQ(link->state->textLength, 4);
  EXPECT_EQ(exchange(0x6F, {0x00}, a), 0);
  EXPECT_EQ(link->state->textLength, 0);
  EXPECT_STREQ(link->state->textBuffer.data(), "");
}

TEST_F(Frames, FormatProgressAndBareAcknowledgement) {
  EXPECT_EQ(exchange(0x7F, {kAck}), 0);
  EXPECT_EQ(link->state->results[0], 6u);
  EXPECT_EQ(link->state->results[1], 6u);
  EXPECT_EQ(exchange(0x7F, {0x15}), -1);
  EXPECT_EQ(exchange(0x7F, {0x00, 0x14, 0x00, 0x03}), 0);
  EXPECT_EQ(link->state->results[0], 20u);
  EXPECT_EQ(link->state->results[1], 3u);
}

TEST_F(Frames, ShortAnswersAreRefusedNotReadPastTheirEnd) {
  for (int code : {0x86, 0x81, 0x99, 0xA2, 0xA3, 0x77, 0x7F}) {
    ProfileRecord rec;
    link->state->profileTarget = &rec;
    if (code == 0x99) {
      RequestArgs a;
      request(0x74, a);
      channel->feed(sim::makeFrame(0x74, 0x21, {kAck}));
      ASSERT_EQ(receiveResponse(*link), 0);
      channel->feed(sim::makeFrame(0x99, 0x21, {1, 2, 3}));
      EXPECT_GT(receiveResponse(*link), 0);
      continue;
    }
    EXPECT_GT(exchange(code, {1, 2, 3}), 0) << std::hex << code;
  }
}

TEST_F(Frames, CurrentValuesAndTotals) {
  Bytes values;
  for (int i = 0; i < 16; ++i) {
    uint32_t v = 1000u * static_cast<uint32_t>(i) + 7;
    values.push_back(static_cast<uint8_t>(v >> 16));
    values.push_back(static_cast<uint8_t>(v >> 8));
    values.push_back(static_cast<uint8_t>(v));
  }
  EXPECT_EQ(exchange(0x86, values), 0);
  EXPECT_EQ(link->state->results[15], 15007u);

  ProfileRecord rec;
  link->state->profileTarget = &rec;
  Bytes totals = {0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(exchange(0xA2, totals), 0);
  EXPECT_DOUBLE_EQ(rec.sums[0], 1.0);
  EXPECT_DOUBLE_EQ(rec.sums[1], 4294967296.0);
  EXPECT_DOUBLE_EQ(rec.sums[3], 281474976710655.0);
  Bytes month(6, 0x99);
  month.insert(month.end(), totals.begin(), totals.end());
  EXPECT_EQ(exchange(0xA3, month), 0);
  EXPECT_DOUBLE_EQ(rec.sums[0], 1.0);
}

TEST_F(Frames, QuantitiesStopAtTheFirstClearBit) {
  RequestArgs a;
  a.a1 = 0xC000 | 0x0001;  // first two energies; the last bit is never reached
  EXPECT_EQ(exchange(0x76, {0, 0x12, 0x34, 1, 0x56, 0x78}, a), 0);
  EXPECT_EQ(link->state->results[0], 0x1234u);
  EXPECT_EQ(link->state->results[1], 0x5678u);
  EXPECT_EQ(link->state->results[15], 0u);
  EXPECT_EQ(exchange(0x76, {0, 0x12}, a), 0x7600);
}

Bytes entry(int slot, int32_t a, int32_t b, int32_t c, int32_t d) {
  Bytes e{static_cast<uint8_t>(slot)};
  for (int32_t v : {a, b, c, d})
    for (int i = 3; i >= 0; --i) e.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  return e;
}

TEST_F(Frames, ProfileBlocks) {
  ProfileRecord rec;
  link->state->profileTarget = &rec;
  RequestArgs a;
  request(0xA4, a);
  Bytes first{0x00, 0x26, 0x03, 0x14, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0x07};  // slots 1-3
  for (auto& e : {entry(1, 10, 0, 5, 0), entry(0, 1, 1, 1, 1), entry(51, 1, 1, 1, 1), entry(2, -20, 0, 0, 0)})
    first.insert(first.end(), e.begin(), e.end());
  first.push_back(0xAA);  // a partial entry is ignored
  channel->feed(sim::makeFrame(0xA4, 0x21, first));
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(rec.expectedEntries, 3);
  EXPECT_EQ(rec.receivedEntries, 2);
  EXPECT_EQ(rec.sequence, 1);
  EXPECT_EQ(rec.blockStatus, kAck);
  EXPECT_EQ(rec.time, fromLocalTime(2026, 3, 14, 0, 0, 0));
  EXPECT_DOUBLE_EQ(rec.entries[1].values[0], -2.0);
  EXPECT_DOUBLE_EQ(rec.sums[0], -1.0);
  EXPECT_EQ(link->state->status, kNak);  // left as while decoding

  channel->feed(sim::makeFrame(0xA4, 0x21, {0x02}));  // out of sequence
  EXPECT_EQ(receiveResponse(*link), -2);
  Bytes next{0x01};
  Bytes e3 = entry(3, 1, 2, 3, 4);
  next.insert(next.end(), e3.begin(), e3.end());
  channel->feed(sim::makeFrame(0xA4, 0x21, next));
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(rec.receivedEntries, 3);
  EXPECT_EQ(rec.entries[2].present, 1);
}

TEST_F(Frames, EndBlockMeansNoDataForTheDay) {
  ProfileRecord rec;
  link->state->profileTarget = &rec;
  request(0xA4);
  channel->feed(sim::makeFrame(0xA4, 0x21, {0x80, 0x26, 0x01, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(receiveResponse(*link), 0);
  EXPECT_EQ(rec.blockStatus, kNak);
  EXPECT_EQ(rec.receivedEntries, 0);
  EXPECT_EQ(rec.expectedEntries, 0);
  channel->feed(sim::makeFrame(0xA4, 0x21, {}));
  EXPECT_EQ(receiveResponse(*link), -1);
}

TEST_F(Frames, DeviceTimeUsesTheLocalClockAsItIs) {
  EXPECT_EQ(exchange(0x81, {0x26, 0x07, 0x01, 0x10, 0x00, 0x00}), 0);
  std::tm tm = localTime(link->state->timeValue);
  EXPECT_EQ(tm.tm_hour, 10);
  EXPECT_EQ(tm.tm_min, 0);
  exchange(0x81, {0x26, 0x01, 0x15, 0x10, 0x00, 0x00});
  tm = localTime(link->state->timeValue);
  EXPECT_EQ(tm.tm_hour, 10);  // summer or winter, 10:00 on the device reads 10:00
  EXPECT_EQ(tm.tm_mday, 15);
}

}  // namespace
}  // namespace qs
