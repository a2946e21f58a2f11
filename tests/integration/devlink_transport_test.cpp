// The device link against the simulated line served the way an outside
// program sees it: a pseudo-terminal and a TCP relay, on the real clock.
#include <memory>

#include "devlink/dev_link.h"
#include "sim/device_sim.h"
#include "sim/serve.h"
#include "support/test_support.h"

namespace qs {
namespace {

class ServedLine : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    line.add(sim::SimDevice::make(0x21, 0x654321));
    line.add(sim::SimDevice::make(0x07, 0x000777));
  }
  void TearDown() override {
    server.reset();
    test::ScreenTest::TearDown();
  }
  // Starts serving; the endpoint, empty when serving failed.
  std::string start(bool tcp) {
    server = std::make_unique<sim::BackgroundServer>(line, tcp ? 0 : -1);
    return server->endpoint();
  }
  void exercise(DevLink& link) {
    ASSERT_EQ(link.initStatus, 1);
    EXPECT_EQ(link.readSerialNumber(1), 0x654321);
    double v[16];
    EXPECT_EQ(link.readCurrentValues(v), 0);
    EXPECT_DOUBLE_EQ(v[5], 50.0);
    ProfileRecord rec;
    EXPECT_EQ(link.readDayProfile(static_cast<int64_t>(std::time(nullptr)) - 2 * 86400, &rec), 0);
    EXPECT_EQ(rec.receivedEntries, 48);
    link.selectAddress(0x07);
    EXPECT_EQ(link.readSerialNumber(1), 0x000777);
  }

  sim::SimLine line;
  std::unique_ptr<sim::BackgroundServer> server;
};

#ifndef _WIN32
TEST_F(ServedLine, OverAPseudoTerminal) {
  std::string path = start(false);
  ASSERT_FALSE(path.empty());
  DevLink link(0x21, path, 115200, QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
  exercise(link);
}
#endif

TEST_F(ServedLine, OverATcpRelay) {
  std::string address = start(true);
  ASSERT_FALSE(address.empty());
  DevLink link(0x21, address, 115200, QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
  exercise(link);
  // What the relay connection printed was cleared by the link.
  EXPECT_EQ(vc.rowText(0), "");
}

}  // namespace
}  // namespace qs
