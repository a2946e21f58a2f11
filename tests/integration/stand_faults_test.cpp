// A verification stand whose slave dies: the master's thread runs here, one
// slave is a second process that is killed with SIGKILL at a bad moment, the
// other slave runs here too and must be served as if the dead one had left.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "console/console.h"
#include "console/virtual_console.h"
#include "platform/shared_objects.h"
#include "sync/sync_link.h"

namespace qs {
namespace {

using namespace std::chrono_literals;

class StandFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    Console::init(&vc);
    stand = ".f" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    startMaster();
  }
  // A master as the program starts one: it checks that no other master
  // answers, clears the block and serves from its own thread.
  void startMaster() {
    master = std::make_unique<SyncLink>("qs", nullptr, nullptr, stand);
    ASSERT_EQ(master->ready, 1);
    master->attached = 1;
    ASSERT_EQ(master->post(simpleMessage(kMsgPresence)), -2);  // nobody answers
    master->clearBlock();
    master->role = 0;
    master->ownIndex = kMasterIndex;
    master->attached = 1;
    master->running = 1;
    other = std::make_unique<SyncLink>("qs", nullptr, nullptr, stand);
    if (serve) serveMailbox();
  }
  void serveMailbox() {
    masterThread = std::thread([this] { master->dispatch(); });
  }
  void TearDown() override {
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    if (masterThread.joinable()) {
      master->post(simpleMessage(kMsgLeave));
      masterThread.join();
    }
    other.reset();
    master.reset();
    removeStandObjects(stand);
    Console::init(nullptr);
  }

  // A slave process as task 1 that does `then` once joined and stays.
  void startDoomedSlave(const std::function<void(SyncLink&)>& then) {
    child = fork();
    if (child == 0) {
      VirtualConsole console;
      Console::init(&console);
      SyncLink slave("qs", nullptr, nullptr, stand);
      if (slave.joinMaster(nullptr, 1) != 0) _exit(3);
      then(slave);
      for (;;) pause();
    }
    ASSERT_GT(child, 0);
  }
  // Waits (bounded) until `done` holds.
  static bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  void killDoomedSlave() {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    child = -1;
  }
  // The other slave's step request, run on a thread so that a master that
  // never serves it fails the test instead of hanging it: the operator's
  // unblock is played after `limit`.
  int otherStep(int point, std::chrono::seconds limit = 20s) {
    auto result = std::async(std::launch::async, [this, point] { return other->postStep(0, 0, point, kPhaseABC); });
    if (result.wait_for(limit) == std::future_status::timeout) {
      master->letGo(1, true);
      platform::openNamedEvent(replyEventName(1) + stand, true, false)->set();
    }
    return result.get();
  }

  VirtualConsole vc;
  bool serve = true;  // the master's thread serves from the start
  std::string stand;
  std::unique_ptr<SyncLink> master;
  std::unique_ptr<SyncLink> other;
  std::thread masterThread;
  pid_t child = -1;
};

// What a run that crashed leaves behind: every object of the stand, the
// mailbox mutex held by a process that is gone, the master's event set, a
// mailbox with an old answer in it and task ids of processes that are gone.
class LeftoverStand : public StandFaults {
 protected:
  void SetUp() override {
    Console::init(&vc);
    stand = ".l" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    pid_t crashed = fork();
    if (crashed == 0) {
      VirtualConsole console;
      Console::init(&console);
      SyncLink old("qs", nullptr, nullptr, stand);
      if (old.ready != 1) _exit(2);
      old.mutex->lock(platform::kWaitForever);
      uint8_t* block = old.block();
      for (size_t i = 0; i < kSyncBlockSize; ++i) block[i] = static_cast<uint8_t>(0xA5 ^ i);
      const uint8_t answer[] = {kMasterIndex, kMsgPresence, kReplyAccepted};
      std::copy(answer, answer + 3, block + kMailboxOffset);
      old.masterEvent->set();
      raise(SIGKILL);
    }
    ASSERT_GT(crashed, 0);
    int status = 0;
    waitpid(crashed, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    startMaster();
  }
};

TEST_F(LeftoverStand, TheNextRunStartsAndServesItsSlaves) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  EXPECT_EQ(other->ownIndex, 1);
  EXPECT_EQ(otherStep(1), 0);
  EXPECT_EQ(master->taskCount, 1);
}

TEST_F(StandFaults, ASlaveKilledWhileWaitingForAStepDoesNotHoldTheOtherBack) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  // Task 1 asks for a step and waits: task 2 is idle, so it is held.
  startDoomedSlave([](SyncLink& slave) { slave.postStep(0, 0, 1, kPhaseABC); });
  ASSERT_TRUE(eventually([&] { return master->block()[kTaskPidOffset] != 0 && master->slots[0].waiting == 1; }));
  killDoomedSlave();
  // Task 2's own step is served: the dead task's slot is given up.
  EXPECT_EQ(otherStep(2), 0);
  EXPECT_EQ(master->slots[0].inUse, 0);
  EXPECT_EQ(master->taskCount, 1);
}

TEST_F(StandFaults, AWaitingSlaveIsServedOnceTheIdleOneDies) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  startDoomedSlave([&](SyncLink&) {
    char c = 'j';
    (void)!write(ready[1], &c, 1);
  });
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);
  // Task 2 waits for task 1, which stays idle; then task 1 dies. Nobody
  // sends another message: the master finds out by itself.
  auto result = std::async(std::launch::async, [this] { return otherStep(3); });
  ASSERT_TRUE(eventually([&] { return master->slots[1].waiting == 1; }));
  killDoomedSlave();
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(master->slots[0].inUse, 0);
}

TEST_F(StandFaults, ASlaveKilledHoldingTheMailboxDoesNotLockItForEver) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  startDoomedSlave([&](SyncLink& slave) {
    slave.mutex->lock(platform::kWaitForever);
    char c = 'l';
    (void)!write(ready[1], &c, 1);
  });
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);
  killDoomedSlave();
  EXPECT_EQ(otherStep(4), 0);
  EXPECT_EQ(master->slots[0].inUse, 0);
}

// The master's console is a sender like any other: its message has been
// acted on when its post returns, and a stop of a waiting task, an unblock
// and a run switch each wait for their own answer.
TEST_F(StandFaults, AConsoleMessageReturnsOnlyOnceTheMasterHasActedOnIt) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  startDoomedSlave([](SyncLink&) {});  // task 1 stays idle: task 2's step waits
  ASSERT_TRUE(eventually([&] { return master->slots[0].inUse == 1; }));
  auto step = std::async(std::launch::async, [this] { return other->postStep(0, 0, 1, kPhaseABC); });
  ASSERT_TRUE(eventually([&] { return master->slots[1].waiting == 1; }));
  for (int i = 0; i < 50; ++i) {
    master->post(byteMessage(kMsgRunControl, static_cast<uint8_t>(i % 2)));
    ASSERT_EQ(master->running, i % 2) << i;
  }
  EXPECT_EQ(master->post(byteMessage(kMsgUnblockTask, 1)), 0);
  EXPECT_EQ(master->slots[1].waiting, 0);
  EXPECT_EQ(step.get(), 27);
}

// A bench that gives up a wait with Esc tells the master, so that nothing
// the master does for that wait reaches a later request.
TEST_F(StandFaults, ABenchThatGivesUpAWaitIsNoLongerWaitedFor) {
  ASSERT_EQ(other->joinMaster(nullptr, 2), 0);
  startDoomedSlave([](SyncLink&) {});
  ASSERT_TRUE(eventually([&] { return master->slots[0].inUse == 1; }));
  bool pressed = false;
  vc.onPoll = [&] {
    if (!pressed && master->slots[1].waiting == 1) {
      vc.pressKey(keys::kEsc);
      pressed = true;
    }
  };
  EXPECT_EQ(other->postStep(0, 0, 1, kPhaseABC), 27);
  vc.onPoll = nullptr;
  ASSERT_TRUE(eventually([&] { return master->slots[1].waiting == 0; }));
  EXPECT_EQ(master->slots[1].state, kTaskIdle);
  master->post(byteMessage(kMsgUnblockTask, 1));  // nothing to unblock
  EXPECT_EQ(master->abortByte(1), 0);
  killDoomedSlave();  // task 2 alone: its next request is served, not aborted
  EXPECT_EQ(otherStep(2), 0);
}

// A wake-up that is lost (a bench that starts used to erase it) does not
// leave a message unanswered: the master looks at the mailbox itself.
class QuietMaster : public StandFaults {
 protected:
  void SetUp() override {
    serve = false;
    StandFaults::SetUp();
  }
};

TEST_F(QuietMaster, APendingMessageIsServedWhateverBecameOfItsWakeUp) {
  other->attached = 1;
  auto registration = std::async(std::launch::async, [this] { return other->post(registerMessage(3, 0, 0x21, 1)); });
  MailboxState box(master->block());
  ASSERT_TRUE(eventually([&] { return box.get() == BoxState::kPosted; }));
  SyncLink starting("qs", nullptr, nullptr, stand);  // another bench starts meanwhile
  master->masterEvent->reset();
  serveMailbox();
  if (registration.wait_for(10s) == std::future_status::timeout) {
    ADD_FAILURE() << "the message was never served";
    master->block()[kMailboxOffset] = kMasterIndex;
    box.set(BoxState::kAnswered);
  }
  EXPECT_EQ(registration.get(), 0);
  EXPECT_EQ(master->taskCount, 1);
}

}  // namespace
}  // namespace qs
#endif
