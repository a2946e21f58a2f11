// The register-description file and the DevLink construction statuses.
#include <gtest/gtest.h>

#include "devlink/dev_link.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "support/test_support.h"

namespace qs {
namespace {

using test::TempDir;

const char* kGood = "AWATTHR\t0x01\t16\t1\t$00A0\t2\t0\n";
const char* kGood2 = "FREQ 0x10 12 0 $0 2 7 trailing words\n";

int load(const std::string& text, std::vector<RegisterInfo>* table = nullptr) {
  TempDir dir;
  std::vector<RegisterInfo> t;
  int r = loadRegisterFile(dir.write("reg.txt", text), t);
  if (table) *table = t;
  return r;
}

TEST(RegisterFile, FieldsOfALine) {
  std::vector<RegisterInfo> t;
  ASSERT_EQ(load(std::string(kGood) + kGood2, &t), 1);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].name, "AWATTHR");
  EXPECT_EQ(t[0].ordinal, 1);
  EXPECT_EQ(t[0].regAddress, 0x01);
  EXPECT_EQ(t[0].firstNumber, 16);
  EXPECT_EQ(t[0].secondNumber, 1);
  EXPECT_EQ(t[0].hexValue, 0xA0);
  EXPECT_EQ(t[0].smallNumber, 2);
  EXPECT_EQ(t[0].thirdNumber, 0);
  EXPECT_EQ(t[1].ordinal, 2);
  EXPECT_EQ(t[1].regAddress, 0x10);
  EXPECT_EQ(t[1].thirdNumber, 7);
}

TEST(RegisterFile, MalformedLinesAreNumberedCountingComments) {
  EXPECT_EQ(load(std::string(kGood) + kGood + "BAD 0x01 1 1 0000 1 1\n" + kGood), -3);  // no '$'
  EXPECT_EQ(load(std::string("# comment\n") + kGood + "BAD 01 1 1 $0 1 1\n" + kGood), -3);  // no 'x'
  EXPECT_EQ(load(std::string(kGood) + "\n" + kGood), -2);          // an empty line
  EXPECT_EQ(load(std::string(kGood) + "   \t \n" + kGood), -2);    // blanks only
  EXPECT_EQ(load(std::string(kGood) + "A 0x1 1 1 $0\n" + kGood), -2);  // token 5 ends the line
  EXPECT_EQ(load(std::string(kGood) + "A 0x1 1 1 $0 1\n" + kGood), -2);  // token 7 missing
}

TEST(RegisterFile, EndOfFileRules) {
  std::vector<RegisterInfo> t;
  // A broken last line without a line feed ends the file.
  EXPECT_EQ(load(std::string(kGood) + kGood2 + "BROKEN 0x1", &t), 1);
  EXPECT_EQ(t.size(), 2u);
  // The same line with a line feed is an error.
  EXPECT_EQ(load(std::string(kGood) + kGood2 + "BROKEN 0x1\n"), -3);
  // A last record without a line feed counts; a final line feed adds nothing.
  EXPECT_EQ(load(std::string(kGood) + "VERSION 0x7F 8 0 $0 1 0", &t), 1);
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(load("# only comments\n#\n", &t), 1);
  EXPECT_TRUE(t.empty());
  // Windows line ends.
  EXPECT_EQ(load("AVRMS\t0x0D\t24\t0\t$0\t3\t0\r\nBVRMS 0x0E 24 0 $0 3 0\r\n", &t), 1);
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1].thirdNumber, 0);
}

TEST(RegisterFile, TheSampleFileLoads) {
  std::vector<RegisterInfo> t;
  EXPECT_EQ(loadRegisterFile(QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt", t), 1);
  EXPECT_GT(t.size(), 60u);
}

class LinkStatus : public test::ScreenTest {
 protected:
  std::unique_ptr<DevLink> link(const std::string* file, bool channelOpen = true) {
    auto ch = std::make_unique<sim::LoopbackChannel>(line);
    if (!channelOpen) ch->close();
    std::string path = file ? dir.write("reg.txt", *file) : dir.file("missing.txt");
    return std::make_unique<DevLink>(0x21, std::move(ch), path);
  }
  TempDir dir;
  sim::SimLine line;
};

TEST_F(LinkStatus, StatusesOfConstruction) {
  std::string good = std::string(kGood) + kGood2;
  std::string bad = std::string(kGood) + kGood + "X\n";
  EXPECT_EQ(link(&good)->initStatus, 1);
  EXPECT_EQ(link(nullptr)->initStatus, -40000);
  EXPECT_EQ(link(&bad)->initStatus, -30003);
  auto closed = link(&good, false);
  EXPECT_EQ(closed->initStatus, -10000);
  EXPECT_EQ(closed->isReady, 0);
  EXPECT_EQ(closed->setAddress(5), -1);
}

TEST_F(LinkStatus, ReadyLinkClearsWhatTheChannelPrintedAndFindsRegisters) {
  vc.fill(U'#');
  std::string good = std::string(kGood) + kGood2;
  auto l = link(&good);
  ASSERT_EQ(l->initStatus, 1);
  EXPECT_EQ(vc.rowCells(0).substr(0, 77), std::string(77, ' '));
  EXPECT_EQ(vc.rowCells(1).substr(0, 77), std::string(77, ' '));
  EXPECT_EQ(vc.rowText(2), std::string(100, '#'));
  EXPECT_EQ(l->coefficients[15], 0.024);
  EXPECT_EQ(l->coefficients[0], 0.0);
  EXPECT_EQ(l->cachedSerial, kNoSerial);
  EXPECT_EQ(l->cachedDeviceType, 3);
  EXPECT_EQ(l->readVersion(0), 1);
  ASSERT_NE(l->findRegister("awatthr"), nullptr);
  EXPECT_EQ(l->findRegister("awatthr")->regAddress, 0x01);
  EXPECT_EQ(l->findRegister("AWATT"), nullptr);
  EXPECT_EQ(l->setAddress(0x42), 0);
  EXPECT_EQ(l->state->address, 0x42);
  EXPECT_EQ(l->deviceAddress, 0x42);
}

}  // namespace
}  // namespace qs
