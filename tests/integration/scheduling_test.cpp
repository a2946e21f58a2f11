// The master's decisions over its task slots, with a simulated installation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/shared_objects.h"
#include "sim/loopback_channel.h"
#include "sim/zu_sim.h"
#include "support/test_support.h"
#include "sync/sync_link.h"

namespace qs {
namespace {

class Scheduling : public test::ScreenTest {
 protected:
  void SetUp() override {
    test::ScreenTest::SetUp();
    stand = ".s" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    ASSERT_EQ(zu.open(std::make_unique<sim::LoopbackChannel>(installation)), 0);
    TestPoint a;
    a.number = 1;
    a.U = 220;
    a.Upct = 100;
    a.I = 5;
    a.Ipct = 100;
    a.PF = 1.0;
    TestPoint b = a;
    b.number = 2;
    b.Ipct = 50;
    zu.testPoints = {a, b};
    link = std::make_unique<SyncLink>("qs", nullptr, &zu, stand);
    ASSERT_EQ(link->ready, 1);
    link->role = 0;
    link->ownIndex = kMasterIndex;
    link->attached = 1;
    link->running = 1;
    zu.keys = &link->keys;
    installation.keys.clear();
  }
  void TearDown() override {
    removeStandObjects(stand);
    test::ScreenTest::TearDown();
  }
  // A registered task in `state`, waiting or not.
  TaskSlot& task(int i, int state, bool waiting, int point = 0, int step = kPhaseABC) {
    TaskSlot& t = link->slots[static_cast<size_t>(i)];
    if (!t.inUse) ++link->taskCount;
    t.inUse = 1;
    t.event = platform::openNamedEvent(replyEventName(static_cast<unsigned>(i)) + stand, true, false);
    t.event->reset();
    t.state = state;
    t.waiting = waiting ? 1 : 0;
    t.S = point;
    t.P = step;
    t.step = (t.S << 8) + t.P;
    return t;
  }
  bool released(int i) { return link->slots[static_cast<size_t>(i)].event->wait(0); }

  test::FakeClock clock;
  std::string stand;
  sim::ZuSim installation;
  ZuController zu;
  std::unique_ptr<SyncLink> link;
};

TEST_F(Scheduling, OneTaskAloneIsServedAtOnce) {
  task(0, kTaskWaitStep, true, 0);
  EXPECT_EQ(link->schedule(), 1);
  EXPECT_TRUE(released(0));
  EXPECT_EQ(link->slots[0].state, kTaskIdle);
  EXPECT_EQ(zu.established, 1);
  EXPECT_EQ(link->currentStep, kPhaseABC);
}

TEST_F(Scheduling, AnIdleTaskHoldsEveryStepBack) {
  task(0, kTaskWaitStep, true, 0);
  task(1, kTaskIdle, false);
  EXPECT_EQ(link->schedule(), 0);
  EXPECT_FALSE(released(0));
  EXPECT_TRUE(installation.keys.empty());
  link->publishStand();  // the waiting task is told whom it waits for
  EXPECT_EQ(standWaitText(link->standState(), 0), "Ожидание задач стенда: 2");
}

TEST_F(Scheduling, TheSmallestStepGoesFirstAndOnlyItsTasksAreReleased) {
  task(0, kTaskWaitStep, true, 1);  // test point 2
  task(1, kTaskWaitStep, true, 0);  // test point 1: smaller
  EXPECT_EQ(link->schedule(), 1);
  EXPECT_TRUE(released(1));
  EXPECT_FALSE(released(0));
  EXPECT_EQ(link->slots[0].state, kTaskWaitStep);
  EXPECT_DOUBLE_EQ(installation.Ipct, 100);
}

TEST_F(Scheduling, TasksWaitingForAStepDoNotBlockAReset) {
  link->currentStep = 3;
  task(0, kTaskWaitStep, true, 0);
  task(1, kTaskWaitReset, true);
  int resets = installation.resets;
  EXPECT_EQ(link->schedule(), 1);
  EXPECT_TRUE(released(1));
  EXPECT_FALSE(released(0));
  EXPECT_EQ(link->currentStep, -1);
  EXPECT_EQ(installation.resets, resets + 1);
}

TEST_F(Scheduling, NothingHappensWhileStoppedOrWithoutTasks) {
  EXPECT_EQ(link->schedule(), 0);
  task(0, kTaskWaitStep, true, 0);
  link->running = 0;
  EXPECT_EQ(link->schedule(), 0);
  EXPECT_FALSE(released(0));
  link->publishStand();
  EXPECT_EQ(standWaitText(link->standState(), 0), "Ожидание запуска стенда (клавиша A на ведущей задаче)");
}

// The master's thread asks its operator through the console thread, which
// owns the keyboard: a key switches the mode, Esc leaves it and the tasks
// are let go with an abort.
TEST_F(Scheduling, AModeSwitchWaitsForTheOperatorsKeyFromTheConsole) {
  zu.mode = 0;
  link->keys.open();  // this test plays the console thread
  auto operatorPresses = [this](int key) {
    return std::thread([this, key] {
      for (int i = 0; i < 5000 && !link->keys.waitingForKey(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      // (The benches are told what the stand waits for.)
      EXPECT_EQ(standWaitText(link->standState(), 1), "Ожидание оператора ведущей задачи (сообщение на её экране)");
      EXPECT_TRUE(link->keys.offer(key));
    });
  };
  task(0, kTaskWaitStep, true, 5, kStepReactive);
  std::thread esc = operatorPresses(kKeyEsc);
  EXPECT_EQ(link->schedule(), 1);
  esc.join();
  EXPECT_TRUE(released(0));
  EXPECT_EQ(link->block()[kAbortOffset], 27);
  EXPECT_EQ(zu.mode, 0);
  EXPECT_EQ(link->currentStep, -1);

  task(0, kTaskWaitStep, true, 5, kStepReactive).event->reset();
  std::thread key = operatorPresses('x');
  EXPECT_EQ(link->schedule(), 1);
  key.join();
  EXPECT_TRUE(released(0));
  EXPECT_EQ(zu.mode, 1);
}

// A point on two phases has a step of its own: the installation gets its
// phase byte, and the pulse-error steps keep theirs.
TEST_F(Scheduling, PointsOnTwoPhasesAreSetNotTakenForPulseErrorSteps) {
  task(0, kTaskWaitStep, true, 1, kStepPhasesAB);
  EXPECT_EQ(link->schedule(), 1);
  EXPECT_EQ(installation.phaseByte, 0xA0);
  EXPECT_FALSE(installation.pulseError);
  task(0, kTaskWaitStep, true, 1, kStepPulseOn);
  EXPECT_EQ(link->schedule(), 1);
  EXPECT_TRUE(installation.pulseError);
  EXPECT_EQ(link->block()[kAbortOffset], 0);
  for (int code = kPhaseA; code <= kPhaseBC; ++code) {
    int step = stepForPhases(code);
    EXPECT_EQ(phasesForStep(step), code);
    EXPECT_TRUE(step < kStepPulseOn || step > kStepReactive) << code;
  }
}

TEST_F(Scheduling, TheTaskTableShowsSlotsAndSteps) {
  task(0, kTaskWaitStep, true, 1, kPhaseAC).A = 1;
  link->slots[0].port = 3;
  link->slots[0].address = 0x21;
  link->refresh = 1;
  link->currentStep = (1 << 16) | (4 << 8) | kStepPulseOn;
  EXPECT_EQ(link->showTasks(), 0);
  EXPECT_EQ(vc.rowText(1).substr(0, 24), "Slave Task: 1( Start )  ");
  EXPECT_EQ(vc.rowText(2).substr(27), "CurrentZU: T=0, A=01, S=05, P=IMP_ON");
  EXPECT_EQ(vc.rowText(4), "   1.(0x21,COM3): Wait_Set_Param_ZU(1,2,AC(Q))");
  EXPECT_EQ(vc.attrAt(3, 4), kAttrSelected);
  EXPECT_EQ(vc.rowText(5), "   2.Disable");
  // The ninth slot has its row like the others: what a task showed there
  // goes with it.
  task(8, kTaskWaitStep, true, 1, kStepPhasesBC);
  link->refresh = 1;
  link->showTasks();
  EXPECT_EQ(vc.rowText(12), "   9.(0x00,COM0): Wait_Set_Param_ZU(0,2,BC)");
  link->slots[8] = TaskSlot{};
  link->refresh = 1;
  link->showTasks();
  EXPECT_EQ(vc.rowText(12), "   9.Disable");
}

// Messages written into the mailbox as slaves write them, taken by the
// master's thread one at a time.
TEST_F(Scheduling, MailboxMessagesRegisterStepAndRefuseStrangers) {
  uint8_t* box = link->block() + link->mailboxOffset;
  auto take = [&](std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), box);
    return link->takeMessage();
  };
  EXPECT_FALSE(take({kNoIndex, kMsgRegister, 3, 0, 0x21}));
  EXPECT_EQ(box[3], 0);  // the index given
  EXPECT_EQ(link->taskCount, 1);
  // A step of a variant whose byte has the top bit set is still ordered
  // and served (the packed number wraps instead of overflowing).
  EXPECT_FALSE(take({0, kMsgZuStep, 0xC8, 0xFF, 1, kPhaseABC}));
  EXPECT_EQ(link->slots[0].step, static_cast<int32_t>(0xC8FF0103u));
  EXPECT_EQ(link->currentStep, static_cast<int32_t>(0xC8FF0103u));
  EXPECT_EQ(link->slots[0].state, kTaskIdle);
  // A programme whose identity and variant fill all 32 bits.
  EXPECT_FALSE(take({0, kMsgLoadProgramme, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0, 'k', 0}));
  EXPECT_EQ(link->slots[0].state, kTaskWaitLoad);
  // A slot nobody registered is refused, not served.
  EXPECT_FALSE(take({5, kMsgZuStep, 0, 0, 0, kPhaseA}));
  EXPECT_EQ(box[2], kReplyRefused);
  EXPECT_EQ(link->slots[5].inUse, 0);
  EXPECT_TRUE(take({kMasterIndex, kMsgLeave}));
}

// A task goes the same way whether it is deleted at the master (Del), says
// by its leave byte that its window closed, or sends its leave message: its
// slot is freed, and the last one gone resets the installation. A leave
// byte left by a task before it does not free a task registered since.
TEST_F(Scheduling, EveryWayOfGoingFreesTheSlotAndTheLastOneResets) {
  uint8_t* box = link->block() + link->mailboxOffset;
  auto take = [&](std::initializer_list<uint8_t> bytes) {
    std::memset(box, 0, kMailboxBytes);
    std::copy(bytes.begin(), bytes.end(), box);
    return link->takeMessage();
  };
  link->block()[kLeaveOffset + 0] = 1;  // left over from an earlier task of index 0
  for (uint8_t port : {3, 4, 5, 6}) take({kNoIndex, kMsgRegister, port, 0, 0x21});
  ASSERT_EQ(link->taskCount, 4);
  int resets = installation.resets;
  take({kMasterIndex, kMsgPresence});
  EXPECT_EQ(link->slots[0].inUse, 1);

  take({kMasterIndex, kMsgStopTask, 2});
  link->block()[kLeaveOffset + 1] = 1;
  take({kMasterIndex, kMsgPresence});
  take({3, kMsgLeave});
  EXPECT_EQ(link->slots[1].inUse + link->slots[2].inUse + link->slots[3].inUse, 0);
  EXPECT_EQ(link->taskCount, 1);
  EXPECT_EQ(installation.resets, resets);
  take({kMasterIndex, kMsgStopTask, 0});
  EXPECT_EQ(link->taskCount, 0);
  EXPECT_EQ(installation.resets, resets + 1);
}

}  // namespace
}  // namespace qs
