// The TCP channel against a relay played by the test on the loopback address.
#include <atomic>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "channel/tcp_channel.h"
#include "platform/socket.h"
#include "platform/time.h"
#include "support/test_support.h"

namespace qs {
namespace {

using platform::SocketHandle;

class TcpRelay : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    ASSERT_TRUE(platform::socketStartup());
    listener = platform::socketListen(&port);
    ASSERT_NE(listener, platform::kNoSocket);
  }
  void TearDown() override {
    if (peer != platform::kNoSocket) platform::socketClose(peer);
    if (listener != platform::kNoSocket) platform::socketClose(listener);
    platform::socketCleanup();
    test::ScreenTest::TearDown();
  }
  std::string name() const { return "127.0.0.1:" + std::to_string(port); }
  // Takes the channel's connection on the relay side.
  void accept() {
    if (peer != platform::kNoSocket) platform::socketClose(peer);
    peer = platform::socketAccept(listener, 5000);
    ASSERT_NE(peer, platform::kNoSocket);
  }
  void relaySend(const std::string& bytes) {
    ASSERT_EQ(platform::socketSend(peer, reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
  }
  // Polls the channel one byte at a time, as the frame receivers do.
  std::string channelRead(Channel& ch, size_t want) {
    std::string got;
    for (int idle = 0; got.size() < want && idle < 3000; ++idle) {
      uint8_t b;
      unsigned count = 0;
      ch.read(&b, 1, &count);
      if (count == 1) {
        got += static_cast<char>(b);
        idle = 0;
      } else {
        platform::sleepMs(1);
      }
    }
    return got;
  }
  static TcpChannel& tcp(Channel& ch) { return dynamic_cast<TcpChannel&>(ch); }
  int countOnScreen(const std::string& text) const {
    int n = 0;
    std::string screen = vc.screenText();
    for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++n;
    return n;
  }
  int port = 0;
  SocketHandle listener = platform::kNoSocket;
  SocketHandle peer = platform::kNoSocket;
};

TEST_F(TcpRelay, ConnectsToTheNamedPortAndReportsIt) {
  auto ch = createChannel(name(), 115200);
  auto* tcp = dynamic_cast<TcpChannel*>(ch.get());
  ASSERT_NE(tcp, nullptr);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  EXPECT_STREQ(tcp->host, "127.0.0.1");
  EXPECT_EQ(tcp->port, port);
  EXPECT_EQ(ch->portNumber, 255);
  EXPECT_EQ(ch->baudIndex, 7);
  ASSERT_TRUE(ch->rxBuffer);
  EXPECT_EQ(vc.rowText(0), "Opening connection to server");
  EXPECT_EQ(vc.rowText(1), "Connected to server");
  EXPECT_EQ(ch->close(), -2);
  EXPECT_EQ(tcp->socketHandle, platform::kNoSocket);
}

TEST_F(TcpRelay, BytesPassUnchangedBothWays) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  uint8_t b;
  unsigned count = 9;
  EXPECT_EQ(ch->read(&b, 1, &count), 0);  // nothing waiting
  EXPECT_EQ(count, 0u);

  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  relaySend(all);
  EXPECT_EQ(channelRead(*ch, 256), all);

  ch->write(reinterpret_cast<const uint8_t*>(all.data()), 256, 1);  // the preamble flag is ignored
  std::string got;
  uint8_t buf[512];
  while (got.size() < 256 && platform::socketWaitReadable(peer, 2000)) {
    int n = platform::socketRecv(peer, buf, sizeof buf);
    if (n <= 0) break;
    got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
  }
  EXPECT_EQ(got, all);
  ch->close();
}

TEST_F(TcpRelay, LargeWriteIsCompletedByFurtherSends) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  const size_t size = 8 << 20;  // far more than one send takes
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7);
  std::atomic<size_t> received{0};
  std::atomic<bool> same{true};
  std::thread reader([&] {
    std::vector<uint8_t> buf(65536);
    while (received < size && platform::socketWaitReadable(peer, 5000)) {
      int n = platform::socketRecv(peer, buf.data(), static_cast<int>(buf.size()));
      if (n <= 0) break;
      for (int i = 0; i < n; ++i)
        if (buf[i] != data[received + i]) same = false;
      received += static_cast<size_t>(n);
    }
  });
  int last = ch->write(data.data(), static_cast<int>(size), 0);
  reader.join();
  EXPECT_GT(last, 0);
  EXPECT_EQ(received.load(), size);
  EXPECT_TRUE(same.load());
  ch->close();
}

TEST_F(TcpRelay, PurgeDiscardsWhatIsWaiting) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  relaySend(std::string(3000, 'z'));
  platform::sleepMs(50);
  ch->purge();
  relaySend("A");
  EXPECT_EQ(channelRead(*ch, 1), "A");
  ch->close();
}

TEST_F(TcpRelay, ReceiveErrorConnectsAgain) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  platform::socketAbort(peer);  // the relay resets the connection
  peer = platform::kNoSocket;
  platform::sleepMs(50);
  uint8_t b;
  unsigned count = 9;
  int result = ch->read(&b, 1, &count);
#ifdef _WIN32
  // Wine ends a socket closed with a zero linger in order, not with a reset.
  EXPECT_TRUE(result == -1 || result == 0) << result;
#else
  EXPECT_EQ(result, -1);
#endif
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(tcp(*ch).connectAttempts, 2);
  // The reconnect writes nothing over the screen; the first connect did.
  EXPECT_EQ(countOnScreen("Opening connection to server"), 1);
  EXPECT_EQ(countOnScreen("Connected to server"), 1);
  accept();
  relaySend("Q");
  EXPECT_EQ(channelRead(*ch, 1), "Q");
  ch->close();
}

TEST_F(TcpRelay, RelayThatClosedIsConnectedAgain) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  platform::socketClose(peer);  // orderly close, as a relay that restarts
  peer = platform::kNoSocket;
  platform::sleepMs(50);
  uint8_t b;
  unsigned count = 9;
  EXPECT_EQ(ch->read(&b, 1, &count), 0);
  EXPECT_EQ(tcp(*ch).connectAttempts, 2);
  accept();
  relaySend("R");
  EXPECT_EQ(channelRead(*ch, 1), "R");
  ch->close();
}

TEST_F(TcpRelay, ARelayThatIsGoneIsTriedAtMostOnceASecond) {
  auto ch = createChannel(name(), 115200);
  ASSERT_EQ(ch->isOpen, 1);
  accept();
  platform::socketClose(listener);
  listener = platform::kNoSocket;
  platform::socketClose(peer);
  peer = platform::kNoSocket;
  platform::sleepMs(50);
  uint32_t start = platform::tickCount();
  uint8_t b;
  unsigned count;
  int polls = 0;
  while (platform::tickCount() - start < 300) {
    ch->read(&b, 1, &count);
    ++polls;
    platform::sleepMs(3);
  }
  EXPECT_GT(polls, 10);
  EXPECT_EQ(tcp(*ch).connectAttempts, 2);  // the first connect and one retry
  EXPECT_EQ(countOnScreen("Connection to server failed"), 0);  // said on nobody's screen

  // The relay comes back on the same port: within the next second or so the
  // reads find it again.
  int samePort = port;
  listener = platform::socketListen(&samePort);
  ASSERT_NE(listener, platform::kNoSocket);
  SocketHandle back = platform::kNoSocket;
  for (int i = 0; i < 400 && back == platform::kNoSocket; ++i) {
    ch->read(&b, 1, &count);
    back = platform::socketAccept(listener, 5);
  }
  ASSERT_NE(back, platform::kNoSocket);
  peer = back;
  relaySend("S");
  EXPECT_EQ(channelRead(*ch, 1), "S");
  ch->close();
}

TEST_F(TcpRelay, AddressesThatCannotBeUsedLeaveTheChannelClosed) {
  // Longer than the 19 characters kept for reconnecting.
  auto ch = createChannel("127.000.000.00012345:" + std::to_string(port), 115200);
  EXPECT_EQ(ch->isOpen, 0);
  EXPECT_EQ(vc.rowText(0), "Connection to server failed");
  Console::gotoXY(0, 2);
  // Host names are not looked up.
  ch = createChannel("localhost:" + std::to_string(port), 115200);
  EXPECT_EQ(ch->isOpen, 0);
  EXPECT_EQ(vc.rowText(2), "Opening connection to server");
  EXPECT_EQ(vc.rowText(3), "Connection to server failed");
  // A name ending in a colon means port 0, which nobody can serve.
  Console::gotoXY(0, 5);
  ch = createChannel("127.0.0.1:", 115200);
  EXPECT_EQ(ch->isOpen, 0);
  EXPECT_EQ(vc.rowText(6), "Connection to server failed");
}

TEST_F(TcpRelay, NameWithoutPortUsesTheDefaultRelayPort) {
  int fixed = kDefaultRelayPort;
  SocketHandle relay = platform::socketListen(&fixed);
  if (relay == platform::kNoSocket) GTEST_SKIP() << "port 1140 is taken on this machine";
  auto ch = createChannel("127.0.0.1", 115200);
  EXPECT_EQ(ch->isOpen, 1);
  EXPECT_EQ(dynamic_cast<TcpChannel*>(ch.get())->port, kDefaultRelayPort);
  SocketHandle s = platform::socketAccept(relay, 5000);
  EXPECT_NE(s, platform::kNoSocket);
  ch->close();
  if (s != platform::kNoSocket) platform::socketClose(s);
  platform::socketClose(relay);
}

}  // namespace
}  // namespace qs
