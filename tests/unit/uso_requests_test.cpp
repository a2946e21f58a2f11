// The telemechanics request layer: frames, pauses, gap tolerance, replies.
#include <gtest/gtest.h>

#include "devlink/dev_link.h"
#include "sim/device_sim.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"
#include "uso/uso_screen.h"

namespace qs {
namespace {

using Bytes = std::vector<uint8_t>;

class UsoRequests : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    auto ch = std::make_unique<test::ScriptedChannel>();
    channel = ch.get();
    link = std::make_unique<DevLink>(0x21, std::move(ch), QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
    ASSERT_EQ(link->initStatus, 1);
    uso = std::make_unique<UsoScreen>(*link);
    channel->written.clear();
    clock.sleeps.clear();
  }
  DeviceState& s() { return *link->state; }
  Bytes sent(int code, uint32_t a1 = 0, uint32_t a2 = 0) {
    channel->written.clear();
    uso->sendRequest(s(), code, a1, a2);
    return channel->written;
  }
  int reply(int code, const Bytes& payload, uint32_t a1 = 0) {
    sent(code, a1);
    channel->feed(sim::makeFrame(static_cast<uint8_t>(code), 0x21, payload));
    return uso->receiveResponse(s());
  }
  test::FakeClock clock;
  test::ScriptedChannel* channel = nullptr;
  std::unique_ptr<DevLink> link;
  std::unique_ptr<UsoScreen> uso;
};

TEST_F(UsoRequests, FramesOnTheWire) {
  EXPECT_EQ(sent(0x5F), (Bytes{0x5B, 0x5F, 0x21, 0x00, 0x8A, 0x1A}));
  EXPECT_EQ(sent(0x5A, 0xFFFFFFFFu), (Bytes{0x5B, 0x5A, 0x21, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x2C, 0x56}));
  channel->written.clear();
  uso->sendText(s(), 0x49, "12345");
  EXPECT_EQ(Bytes(channel->written.begin() + 3, channel->written.end() - 2), (Bytes{6, '0', '1', '2', '3', '4', '5'}));
  channel->written.clear();
  EXPECT_EQ(uso->sendText(s(), 0x49, "1234567"), -2);
  EXPECT_TRUE(channel->written.empty());
  EXPECT_EQ(uso->receiveResponse(s()), -1);

  s().fillByte = 7;
  Bytes tu = sent(0x4C, 0x0005);
  EXPECT_EQ(Bytes(tu.begin() + 3, tu.end() - 2), (Bytes{6, 0x00, 0x05, 0x00, 0x05, 7, 7}));
  s().valueI = 12.37;
  Bytes delay = sent(0x68);
  EXPECT_EQ(Bytes(delay.begin() + 4, delay.end() - 2), (Bytes{0x00, 123}));
  for (int code : {0x42, 0x4B, 0x50, 0x54, 0x58, 0x5B, 0x61, 0x6C, 0x70, 0x3E}) {
    channel->written.clear();
    EXPECT_EQ(uso->sendRequest(s(), code), -1) << code;
    EXPECT_TRUE(channel->written.empty());
  }
}

TEST_F(UsoRequests, EachRequestGivesItsReplyItsTime) {
  struct Case {
    int code;
    uint32_t pause;
  } cases[] = {{0x3F, 1}, {0x5A, 60}, {0x57, 100}, {0x6F, 10}, {0x5F, 1}, {0x56, 100}, {0x6A, 100}};
  for (const auto& c : cases) {
    clock.sleeps.clear();
    sent(c.code);
    EXPECT_TRUE(clock.sleeps.empty()) << std::hex << c.code;
    EXPECT_EQ(s().answerDue - clock.now(), c.pause) << std::hex << c.code;
  }
}

TEST_F(UsoRequests, AMissingReplyEndsAfterTwentyOnePauses) {
  sent(0x57);
  uint32_t at = clock.now();
  EXPECT_EQ(uso->receiveResponse(s()), -1);
  EXPECT_EQ(s().status, kNak);
  EXPECT_EQ(clock.now() - at, 100u + 21 * 3);  // its 100 ms, then 21 polls of 3 ms
  // After the reply's time, gaps of up to 21 polls at a stretch.
  sent(0x67);
  channel->gaps(10);
  channel->feed({0x5B, 0x67});
  channel->gaps(20);
  channel->feed({0x21, 0x02, 0x12, 0x34});
  Bytes f = sim::makeFrame(0x67, 0x21, {0x12, 0x34});
  channel->feed({f[6], f[7]});
  EXPECT_EQ(uso->receiveResponse(s()), 0);
  EXPECT_EQ(s().valueG, 0x1234);
}

TEST_F(UsoRequests, SignalStatesInTwoWidths) {
  EXPECT_EQ(reply(0x57, {0x00, 0x05, 0x00, 0x01, 0x00, 0x04}), 0);
  EXPECT_EQ(s().tsCurrent, 5u);
  EXPECT_EQ(s().tsLatch1, 4u);
  EXPECT_EQ(reply(0x57, {0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3}), 0);
  EXPECT_EQ(s().tsCurrent, 0x10000u);
  EXPECT_EQ(s().tsLatch0, 2u);
  EXPECT_EQ(s().tsLatch1, 3u);
}

TEST_F(UsoRequests, MeasurementValuesFollowTheReplyMask) {
  Bytes p{0x00, 0x00, 0x00, 0xFF};
  for (int i = 0; i < 8; ++i) {
    p.push_back(static_cast<uint8_t>(i));
    p.push_back(0x10);
  }
  EXPECT_EQ(reply(0x5A, p, 0xFFFFFFFFu), 0);
  EXPECT_EQ(s().tiMask, 0xFFu);
  EXPECT_EQ(s().tiValues[7], 0x0710);
  EXPECT_EQ(s().tiValues[8], 0);
  // Counters: mask bits 1 and 3.
  EXPECT_EQ(reply(0x55, {0, 0, 0, 0x0A, 0x01, 0x02, 0x03, 0x04}), 0);
  EXPECT_EQ(s().counterValues[1], 0x0102);
  EXPECT_EQ(s().counterValues[3], 0x0304);
}

TEST_F(UsoRequests, AcknowledgementsRefusalsAndOddReplies) {
  EXPECT_EQ(reply(0x66, {kAck}), 0);
  EXPECT_EQ(s().status, kAck);
  clock.sleeps.clear();
  EXPECT_EQ(reply(0x66, {kNak}), 0);
  EXPECT_EQ(s().status, kNak);
  EXPECT_EQ(clock.sleeps.back(), 500u);
  EXPECT_EQ(reply(0x5F, {'1', '2', '3'}), -3);
  EXPECT_EQ(s().status, kNak);
  EXPECT_EQ(reply(0x60, {0x22, 0x07}), -4);
  EXPECT_EQ(reply(0x60, {0x21, 0x07}), 0);
  EXPECT_EQ(s().addressExtra, 7);
  EXPECT_EQ(reply(0x69, {0x80, 25}), 0);
  EXPECT_DOUBLE_EQ(s().valueI, 2.5);
  EXPECT_EQ(reply(0x3F, {3, 0x00, 47, 0xFF, 0xF8}), 0);
  EXPECT_FLOAT_EQ(s().halfValue, 23.5f);
  EXPECT_FLOAT_EQ(s().outsideTemperature, -4.0f);
  EXPECT_EQ(reply(0x57, {1, 2}), -1);  // too short to carry three states
}

TEST_F(UsoRequests, AddressChangeCountsAsAcknowledgedByTheFourthByte) {
  sent(0x4A, 0x35, 7);
  channel->feed({0x11, 0x22, 0x33, kAck});  // no frame, but byte 3 is an ACK
  EXPECT_EQ(uso->receiveResponse(s()), 0);
  EXPECT_EQ(s().status, kAck);
}

TEST_F(UsoRequests, DebounceReplyOfEightOrSixteen) {
  Bytes eight, sixteen;
  for (int i = 0; i < 16; ++i) {
    if (i < 8) eight.insert(eight.end(), {0, static_cast<uint8_t>(i + 1)});
    sixteen.insert(sixteen.end(), {0, static_cast<uint8_t>(100 + i)});
  }
  EXPECT_EQ(reply(0x65, sixteen), 0);
  EXPECT_EQ(s().valuesE[15], 115);
  EXPECT_EQ(reply(0x65, eight), 0);
  EXPECT_EQ(s().valuesE[7], 8);
  EXPECT_EQ(s().valuesE[8], 108);  // only the first eight were replaced
}

TEST(UsoHelpers, BigEndianAndDecimalText) {
  uint8_t b[8] = {};
  toBigEndian(0x11223344, b, 4);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(b[3], 0x44);
  toBigEndian(0xABCD, b, 10);  // ((10 - 1) mod 8) + 1 = 2 bytes
  EXPECT_EQ(b[0], 0xAB);
  EXPECT_EQ(b[1], 0xCD);
  EXPECT_EQ(fromBigEndian(b, 2), 0xABCDu);
  EXPECT_EQ(isDecimalText(""), 0);
  EXPECT_EQ(isDecimalText("21"), 0);
  EXPECT_EQ(isDecimalText("1."), -1);
}

}  // namespace
}  // namespace qs
