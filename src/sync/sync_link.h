// A process's link to the verification stand: the shared block, its
// mailbox and the named objects, and the exchange of one message with the
// master.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
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
  int checkReply(uint8_t type);
  void clearBlock();
  // Makes the reply event of `index` (after registration).
  bool remakeOwnEvent(uint8_t index);

  uint8_t* block() { return view; }
  // Task index `i`'s abort byte.
  uint8_t& abortByte(int i) { return view[kAbortOffset + static_cast<size_t>(i)]; }
  uint8_t& releaseByte(int i) { return view[kReleaseOffset + static_cast<size_t>(i)]; }
  // The process id task index `i` published (0: none yet).
  uint32_t taskPid(int i) const;
  void setTaskPid(int i, uint32_t pid);

  // ---- master ----------------------------------------------------------------------
  // 1 when the master cannot start, else the console's result.
  int runMaster(DevLink* dev);
  int startSlaves(int first, int count);
  int console();
  int showTasks();
  // The master thread's loop: answers every message; 0 when the console
  // ended the master.
  int dispatch();
  // Answers the message in the mailbox and schedules what it makes due;
  // true when the master's own leave message ended the link.
  bool takeMessage();
  // After each message: 0 nothing done, 1 an action taken, 7/8 a mode switch due.
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

 private:
  void answer(int slot, uint8_t code);
  void answerConsole();
  void freeSlot(int slot);
  // A task that left or is gone: its slot freed, the installation reset
  // after the last one.
  void dropTask(int slot);
  void releaseWaiting(int state, int step);
  void resetInstallation();
  int loadForSlot(const TaskSlot& slot);
  std::thread masterThread_;
};

// The name of the reply event of process index `index`.
std::string replyEventName(unsigned index);

// Removes the named objects and the block file of a stand (those of the
// tests and tools that set a stand apart; the program's own stay).
void removeStandObjects(const std::string& stand);

}  // namespace qs
