// The serial channel against real pseudo-terminals: the program opens the
// slave end as its port, the test plays the device on the master end.
#ifndef _WIN32
#include <chrono>
#include <filesystem>
#include <vector>

#include "channel/channel.h"
#include "channel/serial_channel.h"
#include "channel/tcp_channel.h"
#include "platform/pty.h"
#include "platform/time.h"
#include "support/test_support.h"

namespace qs {
namespace {

using platform::PseudoTerminal;

class SerialOverPty : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    ASSERT_TRUE(platform::ptyOpen(&pty));
  }
  void TearDown() override {
    platform::ptyClose(&pty);
    test::ScreenTest::TearDown();
  }
  std::vector<uint8_t> farRead(size_t want, int timeoutMs = 2000) {
    std::vector<uint8_t> got;
    uint8_t buf[512];
    while (got.size() < want) {
      int n = platform::ptyRead(pty, buf, sizeof buf, timeoutMs);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  // Reads from the channel until `want` bytes came or the far end stays quiet.
  std::vector<uint8_t> channelRead(Channel& ch, size_t want) {
    std::vector<uint8_t> got;
    for (int idle = 0; got.size() < want && idle < 2000; ++idle) {
      uint8_t b[64];
      unsigned count = 99;
      ch.read(b, sizeof b, &count);
      if (count > 0) {
        got.insert(got.end(), b, b + count);
        idle = 0;
      } else {
        platform::sleepMs(1);
      }
    }
    return got;
  }
  PseudoTerminal pty;
};

TEST_F(SerialOverPty, OpensRaw8N1WithoutFlowControl) {
  auto ch = createChannel(pty.slavePath, 4800);
  ASSERT_TRUE(ch->isOpen);
  EXPECT_NE(dynamic_cast<SerialChannel*>(ch.get()), nullptr);
  EXPECT_EQ(ch->baudIndex, 2);
  EXPECT_EQ(ch->portNumber, 0);  // a device path without "COM"
  ASSERT_TRUE(ch->rxBuffer);
  EXPECT_EQ(ch->rxBufferSize, 1024);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(ch->rxBuffer[i], 0);

  platform::LineSettings s;
  ASSERT_TRUE(platform::ptyLineSettings(pty, &s));
  EXPECT_EQ(s.baud, 4800);
  EXPECT_TRUE(s.eightBits);
  EXPECT_FALSE(s.parity);
  EXPECT_FALSE(s.twoStopBits);
  EXPECT_FALSE(s.hardwareFlow);
  EXPECT_FALSE(s.softwareFlow);
  EXPECT_FALSE(s.canonical);
  EXPECT_FALSE(s.echo);
  EXPECT_FALSE(s.outputProcessing);
  EXPECT_FALSE(s.inputTranslation);
  EXPECT_EQ(ch->close(), 0);
}

TEST_F(SerialOverPty, EveryByteValuePassesBothWays) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);

  ch->write(all.data(), 256, 0);
  EXPECT_EQ(farRead(256), all);

  ASSERT_TRUE(platform::ptyWrite(pty, all.data(), all.size()));
  EXPECT_EQ(channelRead(*ch, 256), all);
  ch->close();
}

// The receivers wait for input between reads: a wait that sees a byte come
// must hand it out in its place, and a wait on a quiet line ends by itself.
TEST_F(SerialOverPty, WaitsForInputLoseNoByteAndEndOnAQuietLine) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  ch->waitInput(20);  // nothing comes
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(platform::ptyWrite(pty, all.data(), all.size()));
  std::vector<uint8_t> got;
  for (int idle = 0; got.size() < all.size() && idle < 200; ++idle) {
    uint8_t b = 0;
    unsigned count = 0;
    ch->read(&b, 1, &count);
    if (count == 1) {
      got.push_back(b);
      idle = 0;
      if (got.size() % 7 == 0) ch->waitInput(20);  // a wait with input already there
    } else {
      ch->waitInput(20);
    }
  }
  EXPECT_EQ(got, all);
  ch->close();
}

// A line that hangs up (an adapter pulled out, the far end gone) reads as
// failed polls with their gaps kept, not at full speed, and once the device
// is back under its name the channel goes on by itself.
TEST_F(SerialOverPty, ALineThatHangsUpKeepsItsGapsAndComesBack) {
  test::TempDir dir;
  std::string link = dir.file("com7");
  std::filesystem::create_symlink(pty.slavePath, link);
  auto ch = createChannel(link, 115200);
  ASSERT_TRUE(ch->isOpen);
  const uint8_t hello[] = {1, 2, 3};
  ASSERT_TRUE(platform::ptyWrite(pty, hello, sizeof hello));
  EXPECT_EQ(channelRead(*ch, 3).size(), 3u);

  platform::ptyClose(&pty);  // the device is gone
  auto start = std::chrono::steady_clock::now();
  unsigned got = 0;
  for (int i = 0; i < 20; ++i) {  // a receiver's polls: a wait, then a read
    ch->waitInput(10);
    uint8_t b;
    unsigned count = 0;
    ch->read(&b, 1, &count);
    got += count;
  }
  EXPECT_EQ(got, 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));

  PseudoTerminal back;  // the device comes back under the same name
  ASSERT_TRUE(platform::ptyOpen(&back));
  std::filesystem::remove(link);
  std::filesystem::create_symlink(back.slavePath, link);
  std::vector<uint8_t> again;
  for (int i = 0; i < 300 && again.empty(); ++i) {
    platform::ptyWrite(back, hello, sizeof hello);
    ch->waitInput(10);
    again = channelRead(*ch, 1);
  }
  EXPECT_FALSE(again.empty());
  const uint8_t out[] = {9};
  EXPECT_EQ(ch->write(out, 1, 0), 1);
  ch->close();
  platform::ptyClose(&back);
}

TEST_F(SerialOverPty, ReadWithNothingWaitingReportsNoBytes) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  uint8_t b = 0;
  unsigned count = 77;
  ch->read(&b, 1, &count);
  EXPECT_EQ(count, 0u);
  ch->close();
}

TEST_F(SerialOverPty, PreambleGoesOnTheLineBeforeTheData) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  const uint8_t frame[] = {0x5B, 0x70, 0x21};
  ch->write(frame, 3, 1);
  EXPECT_EQ(farRead(6), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x5B, 0x70, 0x21}));
  ch->close();
}

TEST_F(SerialOverPty, PurgeDrainsABurst) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  std::vector<uint8_t> burst(700, 0x55);
  ASSERT_TRUE(platform::ptyWrite(pty, burst.data(), burst.size()));
  platform::sleepMs(50);
  ch->purge();
  uint8_t b;
  unsigned count = 9;
  ch->read(&b, 1, &count);
  EXPECT_EQ(count, 0u);
  ch->purge();  // on a quiet line it returns after one read
  ch->close();
}

TEST_F(SerialOverPty, SecondCloseSaysNothingWasOpen) {
  auto ch = createChannel(pty.slavePath, 115200);
  ASSERT_TRUE(ch->isOpen);
  EXPECT_EQ(ch->close(), 0);
  EXPECT_FALSE(ch->rxBuffer);
  EXPECT_EQ(ch->close(), -2);
  EXPECT_EQ(ch->isOpen, 0);
}

TEST_F(SerialOverPty, RateNotOfferedLeavesTheDeviceUntouched) {
  for (int rate : {300, 14400}) {
    SerialChannel ch(pty.slavePath, rate);
    EXPECT_EQ(ch.isOpen, 0);
    EXPECT_EQ(ch.open(pty.slavePath, rate), -11);
  }
  // Never opened: the line keeps the pseudo-terminal's own (cooked) settings,
  // and the port is free for the next program.
  platform::LineSettings s;
  ASSERT_TRUE(platform::ptyLineSettings(pty, &s));
  EXPECT_TRUE(s.canonical);
  SerialChannel next(pty.slavePath, 115200);
  EXPECT_EQ(next.isOpen, 1);
  next.close();
}

TEST_F(SerialOverPty, APortAlreadyHeldCannotBeOpened) {
  SerialChannel first(pty.slavePath, 115200);
  ASSERT_EQ(first.isOpen, 1);
  SerialChannel second(pty.slavePath, 115200);
  EXPECT_EQ(second.isOpen, 0);
  EXPECT_EQ(second.open(pty.slavePath, 115200), -1);
  first.close();
  SerialChannel third(pty.slavePath, 115200);
  EXPECT_EQ(third.isOpen, 1);
  third.close();
}

// Names of COM ports resolve through links QS_ADD/comN in the working folder.
class ComNames : public SerialOverPty {
 protected:
  void SetUp() override {
    SerialOverPty::SetUp();
    saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::filesystem::create_directories("QS_ADD");
  }
  void TearDown() override {
    std::filesystem::current_path(saved);
    SerialOverPty::TearDown();
  }
  void link(int n) { std::filesystem::create_symlink(pty.slavePath, "QS_ADD/com" + std::to_string(n)); }
  std::unique_ptr<Channel> opened(const std::string& name) {
    auto ch = createChannel(name, 115200);
    EXPECT_NE(dynamic_cast<SerialChannel*>(ch.get()), nullptr) << name;
    return ch;
  }
  test::TempDir dir;
  std::filesystem::path saved;
};

TEST_F(ComNames, NumberAfterComOrTheWholeName) {
  struct Case {
    const char* name;
    int port;
  } cases[] = {{"COM1:", 1}, {"com12", 12}, {"7", 7}, {"1.2.3.4", 1}, {"xCOM3", 3}};
  for (const auto& c : cases) {
    std::filesystem::remove("QS_ADD/com" + std::to_string(c.port));
    link(c.port);
    auto ch = opened(c.name);
    EXPECT_EQ(ch->isOpen, 1) << c.name;
    EXPECT_EQ(ch->portNumber, c.port) << c.name;
    ch->close();
  }
}

TEST_F(ComNames, MixedCaseAndEmptyNamesGivePortZero) {
  link(0);  // even a link for port 0 is only a link: COM0 is what they name
  for (const char* name : {"Com3", "", "COM"}) {
    auto ch = opened(name);
    EXPECT_EQ(ch->isOpen, 1) << name;
    EXPECT_EQ(ch->portNumber, 0) << name;
    ch->close();
  }
}

TEST_F(ComNames, WithoutALinkComNIsTheSystemsSerialDevice) {
  EXPECT_EQ(platform::serialDevicePath("\\\\.\\COM3"), "/dev/ttyS2");
  link(3);
  EXPECT_EQ(platform::serialDevicePath("\\\\.\\COM3"), "QS_ADD/com3");
  EXPECT_EQ(platform::serialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  // A port number that is no number (a Task line's port past 9) is opened
  // as written, so its failure names it, never /dev/ttyS-1.
  for (const char* name : {"\\\\.\\COM:", "\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM3x"})
    EXPECT_EQ(platform::serialDevicePath(name), name);
}

TEST(ChannelNames, EightCharactersOrMoreNameARelay) {
  Console::init(nullptr);
  // Only the kind of channel matters here; every address is this machine's
  // own or no address at all.
  for (const char* name : {"COM12345", "127.0.0.1:1", "127.0.0.1"}) {
    auto ch = createChannel(name, 115200);
    EXPECT_NE(dynamic_cast<TcpChannel*>(ch.get()), nullptr) << name;
  }
}

TEST(ChannelNames, BaseChannelIsAPlaceholder) {
  Channel placeholder;
  EXPECT_EQ(placeholder.isOpen, 0);
  EXPECT_EQ(placeholder.portNumber, 255);
  EXPECT_EQ(placeholder.baudIndex, 7);
  EXPECT_EQ(placeholder.open("COM1", 4800), 0);
  unsigned count = 5;
  uint8_t b;
  EXPECT_EQ(placeholder.read(&b, 1, &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(placeholder.close(), 0);
}

}  // namespace
}  // namespace qs
#endif
