// Exchanges through the shared mailbox, with the test playing the master's
// thread on a stand of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "console/console.h"
#include "console/virtual_console.h"
#include "platform/shared_objects.h"
#include "sync/sync_link.h"

namespace qs {
namespace {

class Mailbox : public ::testing::Test {
 protected:
  void SetUp() override {
    stand = ".t" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    link = std::make_unique<SyncLink>("qs", nullptr, nullptr, stand);
    ASSERT_EQ(link->ready, 1);
    link->clearBlock();
    block = platform::openSharedBlock("ZU_SYNCHRONIZATON" + stand, kSyncBlockSize);
    masterEvent = platform::openNamedEvent("ZU_SYNCHRONIZATON_EVENT" + stand, true, false);
  }
  void TearDown() override {
    stop = true;
    masterEvent->set();
    if (master.joinable()) master.join();
    removeStandObjects(stand);
  }
  // The master's thread: answers each message with `answer` (which writes
  // the reply bytes) and signals the sender's reply event.
  void serve(std::function<void(uint8_t* box)> answer) {
    master = std::thread([this, answer] {
      while (!stop) {
        if (!masterEvent->wait(50)) continue;
        masterEvent->reset();
        if (stop) break;
        MailboxState state(block->data());
        if (!state.change(BoxState::kPosted, BoxState::kTaken)) continue;
        uint8_t* box = block->data() + kMailboxOffset;
        seen.push_back(std::vector<uint8_t>(box, box + 12));
        uint8_t sender = box[0];
        answer(box);
        state.set(BoxState::kAnswered);
        auto reply = platform::openNamedEvent(replyEventName(sender) + stand, true, false);
        if (reply) reply->set();
      }
    });
  }
  static void accept(uint8_t* box, uint8_t result) {
    box[0] = kMasterIndex;
    box[2] = kReplyAccepted;
    box[3] = result;
  }

  std::string stand;
  std::unique_ptr<SyncLink> link;
  std::unique_ptr<platform::SharedBlock> block;
  std::unique_ptr<platform::Event> masterEvent;
  std::thread master;
  std::atomic<bool> stop{false};
  std::vector<std::vector<uint8_t>> seen;
};

TEST_F(Mailbox, NothingIsSentWhenNotAttached) {
  EXPECT_EQ(link->post(simpleMessage(kMsgPresence)), 0);
  EXPECT_EQ(block->data()[kMailboxOffset + 1], 0);
}

TEST_F(Mailbox, APresenceCheckWithoutAMasterRunsOut) {
  link->attached = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link->post(simpleMessage(kMsgPresence)), -2);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
}

TEST_F(Mailbox, RegistrationGivesTheIndexAndVariant) {
  serve([](uint8_t* box) {
    accept(box, 3);
    box[4] = 2;
  });
  link->attached = 1;
  EXPECT_EQ(link->post(registerMessage(7, 1, 0x21, 0x01020304)), 0);
  EXPECT_EQ(link->ownIndex, 3);
  EXPECT_EQ(link->variant, 2);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0][0], kNoIndex);
  EXPECT_EQ(seen[0][1], kMsgRegister);
  EXPECT_EQ(seen[0][2], 7);
  EXPECT_EQ(seen[0][4], 0x21);
  EXPECT_EQ(std::vector<uint8_t>(seen[0].begin() + 5, seen[0].begin() + 9), (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST_F(Mailbox, AStepHeldAlreadyIsAnsweredAtOnce) {
  serve([](uint8_t* box) { accept(box, 0); });
  link->attached = 1;
  link->ownIndex = 0;
  link->remakeOwnEvent(0);
  EXPECT_EQ(link->postStep(1, 1, 4, 3), 0);
  EXPECT_EQ(std::vector<uint8_t>(seen[0].begin(), seen[0].begin() + 6), (std::vector<uint8_t>{0, 4, 1, 1, 4, 3}));
}

TEST_F(Mailbox, AWaitingStepEndsWhenDoneOrUnblocked) {
  link->attached = 1;
  link->ownIndex = 1;
  link->remakeOwnEvent(1);
  std::atomic<int> phase{0};
  serve([&](uint8_t* box) {
    accept(box, 1);  // accepted: the task waits until the step is done
    std::thread([this, &phase] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (phase == 1) block->data()[kAbortOffset + 1] = 27;  // the operator unblocks it
      block->data()[kReleaseOffset + 1] = 1;
      auto reply = platform::openNamedEvent(replyEventName(1) + stand, true, false);
      reply->set();
    }).detach();
  });
  EXPECT_EQ(link->postStep(1, 1, 0, 3), 0);
  phase = 1;
  EXPECT_EQ(link->postReset(), 27);
  EXPECT_EQ(block->data()[kAbortOffset + 1], 0);  // cleared by the task that saw it
}

TEST_F(Mailbox, AReleaseIsNotLostWhenItComesWithTheReply) {
  link->attached = 1;
  link->ownIndex = 2;
  link->remakeOwnEvent(2);
  // The master replies and, the set being complete, releases the task at
  // once: both signals may reach the sender before it waits the second time.
  serve([this](uint8_t* box) {
    accept(box, 1);
    block->data()[kReleaseOffset + 2] = 1;
  });
  EXPECT_EQ(link->postStep(1, 1, 0, 3), 0);
  EXPECT_EQ(block->data()[kReleaseOffset + 2], 0);
}

TEST_F(Mailbox, RefusalsAndMessagesThatCannotBeSent) {
  serve([](uint8_t* box) {
    box[0] = kMasterIndex;
    box[2] = kReplyRefused;
  });
  link->attached = 1;
  EXPECT_EQ(link->post(simpleMessage(kMsgIdle)), -3);
  EXPECT_EQ(link->post(simpleMessage(14)), -1);
  EXPECT_EQ(link->post(byteMessage(kMsgStopTask, 0)), -1);  // only the master console may
  EXPECT_EQ(link->postLoad(std::string(100, 'k'), 1, 0, 0), -1);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(Mailbox, LeavingWaitsUntilTheMasterHasAcknowledgedIt) {
  serve([](uint8_t* box) { accept(box, 0); });
  link->attached = 1;
  link->ownIndex = 2;
  link->remakeOwnEvent(2);
  EXPECT_EQ(link->post(simpleMessage(kMsgLeave)), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0][1], kMsgLeave);
  EXPECT_EQ(seen[0][0], 2);
}

// A task that joined one master says nothing to a later one: once the master
// it joined is no longer the one published in the block, its messages are
// not sent, and neither its leave nor its give-up bytes are set (the later
// master may have given its index to another task).
TEST_F(Mailbox, ATaskSaysNothingToAMasterItDidNotJoin) {
  serve([](uint8_t* box) { accept(box, 0); });
  link->attached = 1;
  link->ownIndex = 2;
  link->remakeOwnEvent(2);
  link->joined = 1;
  link->publishMaster(true);  // (this process plays the master it joined)
  link->rememberMaster();
  EXPECT_FALSE(link->masterGone());
  EXPECT_EQ(link->postIdle(), 0);
  link->markLeaving();
  EXPECT_EQ(block->data()[kLeaveOffset + 2], 1);
  block->data()[kLeaveOffset + 2] = 0;

  uint8_t* markWord = block->data() + kMasterMarkOffset;
  markWord[0] ^= 0x5A;  // another master (its process started at another time)
  EXPECT_TRUE(link->masterGone());
  size_t sent = seen.size();
  EXPECT_EQ(link->postIdle(), -2);
  link->markLeaving();
  link->cancelWait(2);
  EXPECT_EQ(block->data()[kLeaveOffset + 2], 0);
  EXPECT_EQ(block->data()[kCancelOffset + 2], 0);
  link->publishMaster(false);  // none at all
  EXPECT_TRUE(link->masterGone());
  EXPECT_EQ(seen.size(), sent);
}

// A bench whose request waits says on its status row what the stand waits
// for, as the master publishes it: the stand stopped, the other tasks that
// have not asked yet, the master at work; the row is cleared once the
// request is let go.
TEST_F(Mailbox, AWaitingBenchSaysWhatTheStandWaitsFor) {
  VirtualConsole vc;
  Console::init(&vc);
  link->attached = 1;
  link->ownIndex = 0;
  link->remakeOwnEvent(0);
  std::atomic_ref<uint32_t> stand(*reinterpret_cast<uint32_t*>(block->data() + kStandStateOffset));
  stand.store(kStandPublished);
  const std::string stopped = "Ожидание запуска стенда (клавиша A на ведущей задаче)";
  std::vector<std::string> shown;
  vc.onPoll = [&] {
    std::string row = vc.rowText(37);
    if (row.empty() || (!shown.empty() && shown.back() == row)) return;
    shown.push_back(row);
    EXPECT_EQ(vc.attrAt(0, 37), kAttrWarning);
    if (row == stopped) stand.store(kStandPublished | kStandRunning | 0x1 | 0x4);  // itself and task 3
    else if (row == "Ожидание задач стенда: 3") stand.store(kStandPublished | kStandRunning | kStandBusy);
    else block->data()[kReleaseOffset] = 1;
  };
  serve([](uint8_t* box) { accept(box, 1); });
  EXPECT_EQ(link->postStep(1, 1, 0, 3), 0);
  EXPECT_EQ(shown, (std::vector<std::string>{stopped, "Ожидание задач стенда: 3", "Ведущая задача работает с установкой"}));
  EXPECT_EQ(vc.rowText(37), "");
  Console::init(nullptr);
}

// A bench waiting for the stand takes no key but Esc: the 300 keys typed
// before it are dropped at the one look that finds it, and the wait ends
// at once (one key a look, it took 30 s); the master is told that the task
// no longer waits, and a key typed after Esc is left for what comes next.
TEST_F(Mailbox, AWaitingBenchDropsTypedKeysAndEscEndsTheWaitAtOnce) {
  VirtualConsole vc;
  Console::init(&vc);
  link->attached = 1;
  link->ownIndex = 0;
  link->remakeOwnEvent(0);
  std::atomic_ref<uint32_t> stand(*reinterpret_cast<uint32_t*>(block->data() + kStandStateOffset));
  stand.store(kStandPublished);  // stopped: the bench waits for key a
  std::chrono::steady_clock::time_point typed{};
  vc.onPoll = [&] {
    if (vc.rowText(37).empty()) return;  // not waiting for the stand yet
    vc.onPoll = nullptr;
    for (int i = 0; i < 300; ++i) vc.pressKey(std::string(1, static_cast<char>('0' + i % 10)));
    vc.pressKey(keys::kEsc);
    vc.pressKey("8");
    typed = std::chrono::steady_clock::now();
  };
  serve([](uint8_t* box) { accept(box, 1); });  // accepted, and never let go
  EXPECT_EQ(link->postStep(1, 1, 0, 3), kKeyEsc);
  ASSERT_NE(typed, std::chrono::steady_clock::time_point{});
  EXPECT_LT(std::chrono::steady_clock::now() - typed, std::chrono::seconds(1));
  EXPECT_EQ(vc.keysLeft(), 1u);
  EXPECT_EQ(block->data()[kCancelOffset + 0], 1);
  EXPECT_EQ(vc.rowText(37), "");
  Console::init(nullptr);
}

TEST(SyncMessages, LoadRequestLayout) {
  std::vector<uint8_t> bytes = encodeMessage(4, loadMessage(0x01020304, 1, 2, "Ver"));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{4, 10, 4, 3, 2, 1, 1, 2, 'V', 'e', 'r', 0}));
  EXPECT_TRUE(encodeMessage(0, simpleMessage(3)).empty());
  EXPECT_EQ(replyWait(kMsgAskMode), 500);
  EXPECT_EQ(replyWait(kMsgReleaseStep), 0);
}

}  // namespace
}  // namespace qs
