// A bench in a test: the virtual console, a recorded clock, a simulated line
// and a device link to it.
#pragma once
#include <memory>

#include "devlink/dev_link.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "support/test_support.h"

namespace qs::test {

class SimBench : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    addDevices();
    link = std::make_unique<DevLink>(0x21, std::make_unique<sim::LoopbackChannel>(line),
                                     QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt");
    ASSERT_EQ(link->initStatus, 1);
  }
  // The devices on the line; the link starts at address 0x21.
  virtual void addDevices() { line.add(sim::SimDevice::make(0x21, 0x123456)); }
  sim::SimDevice& device(uint8_t address) { return *line.find(address); }

  FakeClock clock;
  sim::SimLine line;
  std::unique_ptr<DevLink> link;
};

}  // namespace qs::test
