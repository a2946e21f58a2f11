// The start-up channel: from the Task line, or asked of the operator.
#include "app/entry.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace qs {
namespace {

class StartupChannel : public test::ScreenTest {
 protected:
  std::string settings(const std::string& text) { return dir.write("QS_ADD/common.sch", text); }
  test::TempDir dir;
  StartupParams params;
};

TEST_F(StartupChannel, MissingSettingsKeepTheDefaultsWithoutAPrompt) {
  EXPECT_TRUE(chooseChannel(dir.file("QS_ADD/common.sch"), params));
  EXPECT_EQ(params.channelName, "COM2:");
  EXPECT_EQ(params.deviceAddress, 0x21);
  EXPECT_EQ(vc.screenText(), std::string(37, '\n'));
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(StartupChannel, TaskLineNamesPortAndAddress) {
  params.taskNumber = 3;
  EXPECT_TRUE(chooseChannel(settings("Task_1:\t0\t21\t\nTask_3:\t7\t2c\t\n"), params));
  EXPECT_EQ(params.channelName, "COM7:");
  EXPECT_EQ(params.deviceAddress, 0x2C);
}

TEST_F(StartupChannel, PortZeroAsksAndEscStops) {
  vc.fill(U'#');
  vc.type("COM5");
  vc.pushKey(keys::kEsc);
  EXPECT_FALSE(chooseChannel(settings("Task_1:\t0\t21\t\n"), params));
  EXPECT_EQ(vc.rowText(0).find(std::string(kChannelPrompt) + "COM5    "), 0u);
  EXPECT_EQ(vc.cell(77, 0).ch, U'#');
}

TEST_F(StartupChannel, AnswerBecomesTheChannelAndIsBoundedTo21Characters) {
  vc.type("192.168.100.200:10001xyz");
  vc.pushKey(keys::kEnter);
  EXPECT_TRUE(chooseChannel(settings("Task_1:\t0\t05\t\n"), params));
  EXPECT_EQ(params.channelName, "192.168.100.200:10001");
  EXPECT_EQ(params.deviceAddress, 0x05);
  EXPECT_EQ(vc.rowText(0), "");  // row 0 cleared after the answer
}

TEST_F(StartupChannel, EmptyAnswerTakesTheDefaultServerWithAMessage) {
  vc.pushKey(keys::kEnter);
  EXPECT_TRUE(chooseChannel(settings("Task_1:\t0\t21\t\n"), params));
  EXPECT_EQ(params.channelName, kDefaultServerAddress);
  EXPECT_GE(params.channelName.size(), 8u);
  EXPECT_EQ(params.channelName.find(':'), std::string::npos);
  EXPECT_EQ(vc.rowText(1), "Ошибка порт указан не верно....");
  EXPECT_EQ(vc.rowText(0), "");
}

}  // namespace
}  // namespace qs
