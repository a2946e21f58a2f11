// A process's link to the verification stand: the shared block, its
// mailbox and the named objects, and the exchange of one message with the
// master.
#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/shared_objects.h"
#include "sync/sync_block.h"
#include "zu/zu_controller.h"

namespace qs {

class DevLink;

enum TaskState : int32_t {
  kTaskIdle = 0,
  kTaskWait = 1,
  kTaskWaitPower = 2,
  kTaskWaitStep = 3,
  kTaskWaitReset = 4,
  kTaskExit = 5,
  kTaskWaitLoad = 6,
};
const char* taskStateName(int state);
// Names of the step codes on the master's screen.
const char* stepName(int step);

// The master's keyboard. Its console thread reads every key and hands the
// master's thread what is meant for it: an Esc while that thread works on
// the installation (a step that keeps failing stops), and the key it waits
// for when it asks the operator (a message to acknowledge, a mode switch).
class KeyHandoff : public ZuKeys {
 public:
  // Console thread: a key from the keyboard; true when the master's thread
  // took it.
  bool offer(int key);
  // Master thread: whether an Esc came while it works (taken once).
  bool escPressed() override;
  // Master thread: waits for the next key; Esc once the console has ended.
  int waitKey() override;
  // Told when the master's thread begins (true) and ends waiting for a key.
  std::function<void(bool)> onAsk;
  // Master thread: works on the installation (Esc is then its) or not.
  void setBusy(bool busy);
  // Console thread: it reads the keys from now on / reads no more. Without
  // a console thread the master's thread reads the keyboard itself.
  void open();
  void close();
  bool waitingForKey();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool busy_ = false;
  bool wantKey_ = false;
  bool esc_ = false;
  bool closed_ = false;
  bool open_ = false;
  int key_ = -1;
  bool stoppedByEsc_ = false;
  // An Esc this soon after an Esc stopped the work is still the work's.
  static constexpr int kQuietMs = 1000;
  std::chrono::steady_clock::time_point quietUntil_{};
};

// The master's record of one slave task.
struct TaskSlot {
  int32_t inUse = 0;
  platform::ProcessId process;
  int32_t port = 0;
  uint8_t address = 0;
  std::unique_ptr<platform::Event> event;
  int32_t waiting = 0;
  int32_t state = kTaskIdle;
  int32_t programmeId = 0;
  int32_t T = 0, A = 0, S = 0, P = 0;
  int32_t step = 0;
  std::string programmeName;
  // When the task's process started (0: unknown), so that a process that
  // later gets the same id is not taken for it.
  uint64_t startMark = 0;
  // Deleted at the master: its process is being ended, and the slot is
  // freed only then (not by the leave the ending task says meanwhile), so
  // that a bench started again finds its port free.
  bool ending = false;
};

class SyncLink : public ZuMaster {
 public:
  // `stand` sets the stand apart from others on the same machine (tests);
  // the program's own stand has none.
  SyncLink(const std::string& programPath, DevLink* dev, ZuController* zu, const std::string& stand = "");

  // 0; -1 file or own reply event not made; -2 mapping; -3 view; -4 mutex;
  // -5 semaphore; -6 master event.
  int init(const std::string& name, size_t size);
  // Sends one message and returns the result of its reply (see checkReply);
  // 0 when not attached, -1 for a message that cannot be sent, -2 when the
  // reply did not come in time, 27 when the master's operator unblocked a
  // waiting request.
  int post(const SyncMessage& message);
  // The same with a bound on the wait for the mailbox (the console control
  // handler must not hang on a mailbox its own process holds); -2 when the
  // mailbox could not be had.
  int post(const SyncMessage& message, uint32_t mailboxWaitMs);
  // Called while a post waits (every 100 ms at most); true gives the wait
  // up. A slave gives up on Esc; the master's console hands keys over.
  std::function<bool()> giveUp;
  int checkReply(uint8_t type);
  void clearBlock();
  // Makes the reply event of `index` (after registration).
  bool remakeOwnEvent(uint8_t index);

  uint8_t* block() { return view; }
  // Task index `i`'s abort and release bytes, as they stand.
  uint8_t abortByte(int i) const { return loadByte(kAbortOffset + static_cast<size_t>(i)); }
  uint8_t releaseByte(int i) const { return loadByte(kReleaseOffset + static_cast<size_t>(i)); }
  // Master: lets task `i`'s waiting request go, done or aborted (27). The
  // abort is in place before the release that the task looks for.
  void letGo(int i, bool abort);
  // Master, when it accepts a request of task `i` that waits: nothing left
  // from an earlier wait counts.
  void clearLetGo(int i);
  // Task: whether its request has been let go (and whether aborted); what
  // it has seen is cleared.
  bool takeLetGo(int i, bool* aborted);
  // Task: gives up its waiting request. Master: whether task `i` gave up
  // (taken once).
  void cancelWait(int i);
  bool takeCancel(int i);
  // Task: it leaves the stand (its slot is freed at once). Master: frees the
  // slots of tasks that left so; true when the last task went (the master's
  // thread then resets the installation).
  void markLeaving();
  bool takeLeaves();
  // Master's thread: whether the last task left by its leave byte, here or
  // on the console thread (the installation is then to be reset).
  bool lastTaskLeft();
  // Whether the master that published itself in the block is running; 0
  // no master published, 1 running, -1 published and gone.
  int masterRunning() const;
  void publishMaster(bool present);
  // A task whose master is gone: the one it joined has ended or another
  // one runs now (before joining: one that published itself and is gone).
  bool masterGone() const override;
  bool stepBegan(uint32_t* tick) const override;
  // Master: it begins to set the installation to a test point now.
  void publishStepBegan();
  // A task that joined: the master it joined, as published in the block.
  void rememberMaster();

  // Master: publishes what the stand waits for (see StandState); `busy`
  // while it works on the installation, `asks` while it waits for its
  // operator's key.
  void publishStand(bool busy = false, bool asks = false);
  // Task: the stand as its master last published it.
  uint32_t standState() const;

  // The process id task index `i` published (0: none yet).
  uint32_t taskPid(int i) const;
  void setTaskPid(int i, uint32_t pid);

  // ---- master ----------------------------------------------------------------------
  // 1 when the master cannot start, else the console's result.
  int runMaster(DevLink* dev);
  int startSlaves(int first, int count);
  int console();
  // Draws the task table when it must be redrawn, whole, also while the
  // master's thread draws (a slot freed shows at once).
  int showTasks();
  // The master thread's loop: answers every message; 0 when the console
  // ended the master.
  int dispatch();
  // Answers the message in the mailbox and schedules what it makes due;
  // true when the master's own leave message ended the link.
  bool takeMessage();
  // After each message: 0 nothing done, 1 an action taken.
  int schedule();
  // Frees the slots of tasks whose process is gone (killed, crashed, window
  // closed) as if they had left, so that the others are not held back by
  // them; the count.
  int reapLostTasks();

  // ---- slave -----------------------------------------------------------------------
  // 0 joined; 1 no master; -1/-3 own reply event not made; -2 not registered.
  int joinMaster(DevLink* dev, int taskNumber);

  // ZuMaster
  bool isSlave() const override { return role == 1 && attached == 1; }
  int programmeVariant() const override { return variant; }
  void setProgrammeVariant(int v) override { variant = static_cast<uint8_t>(v); }
  int postStep(int variant, int group, int point, int step) override;
  int postReset() override;
  int postMode() override;
  int postLoad(const std::string& key, int identity, int variant, int group) override;
  int postIdle() override { return post(simpleMessage(kMsgIdle)); }
  int postLeaveCalibration() override { return post(simpleMessage(kMsgLeaveCalibration)); }
  int benchNumber() const override { return ownIndex == kNoIndex ? 0 : ownIndex + 1; }

  uint8_t attached = 0;
  uint8_t role = 1;
  uint8_t ownIndex = kNoIndex;
  int32_t joined = 0;
  uint8_t taskCount = 0;
  int32_t currentStep = -1;
  std::string programmeName;
  int32_t programmeId = 0;
  std::string programPath;
  uint8_t variant = 0;
  ZuController* zu;
  DevLink* dev;
  int32_t ready = 0;
  size_t mailboxOffset = kMailboxOffset;
  uint8_t* view = nullptr;
  int32_t running = 0;
  int32_t refresh = 0;
  size_t size = kSyncBlockSize;
  int32_t cursor = 0;

  std::unique_ptr<platform::SharedBlock> shared;
  std::unique_ptr<platform::NamedMutex> mutex;
  std::unique_ptr<platform::NamedSemaphore> semaphore;
  std::unique_ptr<platform::Event> masterEvent;
  std::unique_ptr<platform::Event> ownEvent;
  std::string stand;
  std::array<TaskSlot, kMaxTasks> slots;
  // Serialises the master's console output between its two threads.
  std::timed_mutex screenMutex;
  // The task slots, shared by the master's console (which shows them and
  // starts slaves) and its thread (which keeps them); never held across
  // work on the installation or a wait for the operator.
  std::recursive_mutex slotsLock;
  KeyHandoff keys;

 private:
  // Writes `bytes` into the mailbox, posts them and waits (at most
  // `limitMs`) for the answer; the result of checkReply, or -2 when no
  // answer came. The caller holds the mutex.
  int exchange(const std::vector<uint8_t>& bytes, uint8_t type, uint32_t limitMs, bool* gaveUp);
  // Puts right what a sender that died or a master that is gone left in
  // the mailbox; the caller holds the mutex. False when the operator gave
  // up waiting for the answer to a message the master took.
  bool settleMailbox();
  // Waits for the answer to a message the master took; false when the
  // master is gone (the message is then withdrawn) or the operator gave up.
  bool awaitTakenAnswer(uint32_t since);
  // The answer to the message being taken: reply bytes, the state, the signal.
  void answer(int slot, uint8_t code);
  void answerConsole(uint8_t code = kReplyAccepted);
  // Claims the answer to the message taken: false when its sender withdrew
  // it meanwhile (nothing may then be written into the mailbox).
  bool claimAnswer();
  // Slots of tasks that gave up their wait no longer wait; true when any.
  bool takeCancels();
  // Frees a slot, ending the process the master started for it.
  void freeSlot(int slot);
  // A task that left, was deleted or is gone: its slot freed (its process
  // ends by itself, or was ended first); true when it was the last one (the
  // installation is then reset). The caller holds the slots.
  bool dropTask(int slot);
  void releaseWaiting(int state, int step, bool abort = false);
  void resetInstallation();
  int loadForSlot(const TaskSlot& slot);
  // Brings the installation to a task's step; false when it was not done
  // (the operator stopped it with Esc, or the programme did not load).
  bool executeStep(const TaskSlot& slot);
  bool pulseOnAt(int number);
  // Waits for the operator's key through the console thread.
  int operatorKey();
  // Console thread: a key read while the console waits, or in its loop.
  void pumpKey(int key);
  uint8_t loadByte(size_t offset) const;
  void storeByte(size_t offset, uint8_t value, bool release = false);
  std::deque<int> consoleKeys_;
  bool answered_ = false;
  std::thread masterThread_;
  // The last task left while the master's thread was busy: it resets the
  // installation when it is free.
  std::atomic<bool> lastLeft_{false};
  // Task: shows on its status row why its request waits ("" clears it).
  void showWait(const std::string& text);
  std::string waitShown_;
  uint32_t joinedMasterPid_ = 0;
  uint32_t joinedMasterMark_ = 0;
};

// The name of the reply event of process index `index`.
std::string replyEventName(unsigned index);

// Removes the named objects and the block file of a stand (those of the
// tests and tools that set a stand apart; the program's own stay).
void removeStandObjects(const std::string& stand);

}  // namespace qs
