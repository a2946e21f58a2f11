// The master's thread: it takes each message of the mailbox, answers it,
// keeps the task slots, and then lets the scheduler decide what is due.
#include <cstring>

#include "console/console.h"
#include "platform/time.h"
#include "sync/master_common.h"

namespace qs {

using master::kReapIntervalMs;

bool SyncLink::claimAnswer() {
  answered_ = true;
  MailboxState state(view);
  BoxState b = state.get();
  if (b == BoxState::kTaken) return state.change(BoxState::kTaken, BoxState::kAnswering);
  return b != BoxState::kWithdrawn;  // (a message handed in directly, as tests do, is answered)
}

void SyncLink::answer(int s, uint8_t code) {
  if (!claimAnswer()) {
    // Its sender gave up before the answer was written: what it asked for
    // is not waited for.
    if (s >= 0 && s < kMaxTasks && slots[static_cast<size_t>(s)].inUse) {
      slots[static_cast<size_t>(s)].waiting = 0;
      slots[static_cast<size_t>(s)].state = kTaskIdle;
    }
    return;
  }
  uint8_t* box = view + mailboxOffset;
  box[0] = kMasterIndex;
  box[2] = code;
  MailboxState(view).set(BoxState::kAnswered);
  if (s >= 0 && s < kMaxTasks && slots[static_cast<size_t>(s)].event) {
    slots[static_cast<size_t>(s)].event->set();
    return;
  }
  // No event of its own (a refusal to a slot not in use): wake the sender
  // by its event's name, so that it never waits for ever.
  auto reply = platform::openNamedEvent(replyEventName(static_cast<unsigned>(s < 0 ? kNoIndex : s)) + stand, true, false);
  if (reply) reply->set();
}

void SyncLink::answerConsole(uint8_t code) {
  if (!claimAnswer()) return;
  uint8_t* box = view + mailboxOffset;
  box[0] = kMasterIndex;
  box[2] = code;
  MailboxState(view).set(BoxState::kAnswered);
  ownEvent->set();
}

bool SyncLink::takeCancels() {
  std::lock_guard<std::recursive_mutex> held(slotsLock);
  bool any = false;
  for (int i = 0; i < kMaxTasks; ++i) {
    if (!takeCancel(i)) continue;
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (!t.inUse || !t.waiting) continue;  // let go already
    t.waiting = 0;
    t.state = kTaskIdle;
    any = true;
  }
  if (any) refresh = 1;
  return any;
}

void SyncLink::freeSlot(int i) {
  TaskSlot& t = slots[static_cast<size_t>(i)];
  if (t.process.value != 0) platform::terminateProcess(t.process);
  t = TaskSlot{};
  setTaskPid(i, 0);
}

bool SyncLink::dropTask(int i) {
  TaskSlot& t = slots[static_cast<size_t>(i)];
  bool counted = t.inUse != 0;
  t.process = platform::ProcessId{};  // it ends (or ended) by itself
  freeSlot(i);
  return counted && taskCount > 0 && --taskCount == 0;
}

bool SyncLink::lastTaskLeft() {
  bool here = takeLeaves();
  bool byConsole = lastLeft_.exchange(false);
  return here || byConsole;
}

bool SyncLink::takeLeaves() {
  std::lock_guard<std::recursive_mutex> held(slotsLock);
  bool last = false, any = false;
  for (int i = 0; i < kMaxTasks; ++i) {
    if (loadByte(kLeaveOffset + static_cast<size_t>(i)) == 0) continue;
    storeByte(kLeaveOffset + static_cast<size_t>(i), 0);
    // Left by its message already, or being deleted (freed once ended).
    if (!slots[static_cast<size_t>(i)].inUse || slots[static_cast<size_t>(i)].ending) continue;
    last = dropTask(i) || last;
    any = true;
  }
  if (any) refresh = 1;
  return last;
}

int SyncLink::reapLostTasks() {
  int lost = 0;
  bool last = false;
  std::unique_lock<std::recursive_mutex> held(slotsLock);
  for (int i = 0; i < kMaxTasks; ++i) {
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (!t.inUse) continue;
    uint32_t pid = taskPid(i);
    bool running = pid != 0 ? platform::pidRunning(pid) &&
                                  (t.startMark == 0 || platform::processStartMark(pid) == t.startMark)
                            : t.process.value == 0 || platform::processAlive(t.process);
    if (running) continue;
    last = dropTask(i) || last;
    ++lost;
  }
  held.unlock();
  if (last) resetInstallation();  // the last task is gone
  if (lost != 0) refresh = 1;
  return lost;
}

int SyncLink::dispatch() {
  MailboxState state(view);
  for (;;) {
    // Woken by a message, or once a second: the mailbox itself says whether
    // a message waits (a wake-up may have been lost), and tasks that died
    // while the others wait for them are looked for.
    bool woken = masterEvent->wait(kReapIntervalMs);
    if (woken) masterEvent->reset();
    if (state.change(BoxState::kPosted, BoxState::kTaken)) {
      if (takeMessage()) return 0;
      continue;
    }
    // No message: a task that gave up its wait, or (once a second) one
    // whose process is gone, may make a step due for the others.
    bool changed = takeCancels();
    if (lastTaskLeft()) {
      resetInstallation();
      changed = true;
    }
    if (!woken && reapLostTasks() != 0) changed = true;
    if (changed) schedule();
    publishStand();
  }
}

bool SyncLink::takeMessage() {
  int wasRunning = running;
  uint8_t* box = view + mailboxOffset;
  int s = box[0];
  int type = box[1];
  std::unique_lock<std::recursive_mutex> slotsHeld(slotsLock);  // not across the long work below
  bool inUse = s < kMaxTasks && slots[static_cast<size_t>(s)].inUse;
  TaskSlot* slot = s < kMaxTasks ? &slots[static_cast<size_t>(s)] : nullptr;
  bool changed = true;
  bool leaving = false;
  // Work that takes long is done once the sender has its answer.
  bool resetDue = false;
  int stopping = -1;
  answered_ = false;
  takeCancels();  // a task that gave up a wait is not waited for
  // A request of a task whose slot is not in use.
  auto refuse = [&] {
    answer(s, kReplyRefused);
    changed = false;
  };
  // A request accepted: answered at once when the installation already
  // holds what it asks for, else the task waits for the others.
  auto accept = [&](bool satisfied) {
    if (satisfied) slot->state = kTaskIdle;
    slot->waiting = satisfied ? 0 : 1;
    if (!satisfied) clearLetGo(s);  // this wait starts afresh
    box[3] = satisfied ? 0 : 1;
    answer(s, kReplyAccepted);
  };
  switch (type) {
    case kMsgRegister: {
      int index = s;
      if (s == kNoIndex) {
        index = -1;
        for (int i = 0; i < kMaxTasks; ++i)
          if (!slots[static_cast<size_t>(i)].inUse) {
            index = i;
            break;
          }
      }
      if (index < 0 || index >= kMaxTasks) {
        answerConsole(kReplyRefused);  // it waits on the event of index 255
        changed = false;
        break;
      }
      TaskSlot& t = slots[static_cast<size_t>(index)];
      if (!t.inUse) {
        t.event = platform::openNamedEvent(replyEventName(static_cast<unsigned>(index)) + stand, true, false);
        if (!t.event) {
          answer(s, kReplyRefused);
          changed = false;
          break;
        }
        t.event->reset();
        storeByte(kLeaveOffset + static_cast<size_t>(index), 0);  // left by a task before it
        t.inUse = 1;
        t.port = box[2];
        ++taskCount;
      }
      t.address = box[4];
      // The task's own process from now on (0 from a task that does not
      // tell it: it publishes it itself once registered).
      uint32_t pid = static_cast<uint32_t>(box[5]) | static_cast<uint32_t>(box[6]) << 8 |
                     static_cast<uint32_t>(box[7]) << 16 | static_cast<uint32_t>(box[8]) << 24;
      setTaskPid(index, pid);
      t.startMark = pid != 0 ? platform::processStartMark(pid) : 0;
      box[3] = static_cast<uint8_t>(index);
      box[4] = variant;
      if (s == kNoIndex) answerConsole();  // it waits on the event of index 255
      else answer(index, kReplyAccepted);
      break;
    }
    case kMsgZuStep:
      if (!inUse) {
        refuse();
        break;
      }
      slot->state = kTaskWaitStep;
      slot->T = box[2];
      slot->A = box[3];
      slot->S = box[4];
      slot->P = box[5];
      slot->step = master::stepCode(slot->T, slot->A, slot->S, slot->P);
      accept(currentStep == slot->step && running == 1);
      break;
    case kMsgPresence:
      answerConsole();
      changed = false;
      break;
    case kMsgRunControl:
      running = box[2];
      answerConsole();
      break;
    case kMsgZuReset:
      if (s == kMasterIndex) {
        bool anyIdle = false;
        for (const TaskSlot& t : slots) anyIdle = anyIdle || (t.inUse && t.state == kTaskIdle);
        resetDue = !anyIdle;
        answerConsole();
        changed = false;
        break;
      }
      if (!inUse) {
        refuse();
        break;
      }
      slot->state = kTaskWaitReset;
      accept(currentStep == -1);
      break;
    case kMsgIdle:
      if (!inUse) {
        refuse();
        break;
      }
      // Back to idle, also from a wait the task gave up: nothing it asked
      // for is pending any more.
      slot->state = kTaskIdle;
      slot->waiting = 0;
      answer(s, kReplyAccepted);
      break;
    case kMsgLeaveCalibration: {
      if (!inUse) {
        refuse();
        break;
      }
      slot->state = kTaskExit;
      slot->waiting = 0;
      running = 0;
      int exited = 0;
      for (const TaskSlot& t : slots) exited += t.inUse && t.state == kTaskExit;
      resetDue = exited != 0 && exited == taskCount;
      answer(s, kReplyAccepted);
      break;
    }
    case kMsgLoadProgramme: {
      if (!inUse) {
        refuse();
        break;
      }
      slot->state = kTaskWaitLoad;
      std::memcpy(&slot->programmeId, box + 2, 4);
      slot->T = box[6];
      slot->A = box[7];
      const char* key = reinterpret_cast<const char*>(box + 8);
      size_t room = kSyncBlockSize - mailboxOffset - 8;
      slot->programmeName.assign(key, strnlen(key, room < kMaxKeyText ? room : kMaxKeyText));
      accept(slot->programmeName == programmeName && master::programmeTag(*slot) == programmeId);
      break;
    }
    case kMsgStopTask:
      // The slot is freed once its process has ended (below), so that a
      // bench started again in it finds its port free.
      if (box[2] < kMaxTasks) stopping = box[2];
      answerConsole();
      break;
    case kMsgUnblockTask: {
      int d = box[2];
      changed = false;
      if (d < kMaxTasks && slots[static_cast<size_t>(d)].inUse && slots[static_cast<size_t>(d)].waiting) {
        TaskSlot& t = slots[static_cast<size_t>(d)];
        letGo(d, true);
        t.state = kTaskIdle;
        t.waiting = 0;
        t.event->set();
        changed = true;
      }
      answerConsole();
      break;
    }
    case kMsgAskMode:
      box[3] = static_cast<uint8_t>(zu != nullptr ? zu->mode : 255);
      answer(s, kReplyAccepted);
      changed = false;
      break;
    case kMsgReleaseStep:
      if (s == kMasterIndex) {
        int p = box[2];
        for (TaskSlot& t : slots) {
          if (!t.inUse || t.state != kTaskWaitStep || t.P != p || !t.waiting) continue;
          t.state = kTaskIdle;
          t.waiting = 0;
          letGo(static_cast<int>(&t - slots.data()), false);
          t.event->set();
        }
        answerConsole();
      }
      break;
    case kMsgLeave:
      if (s == kMasterIndex) {
        // The master ends: tasks that wait for it are let go with an abort
        // (nothing they asked for will be done).
        for (TaskSlot& t : slots) {
          int i = static_cast<int>(&t - slots.data());
          if (t.inUse && t.waiting && t.event) {
            letGo(i, true);
            t.waiting = 0;
            t.event->set();
          }
        }
        answerConsole();
        for (TaskSlot& t : slots) t.event.reset();
        leaving = true;
      } else if (inUse) {
        answer(s, kReplyAccepted);
        resetDue = dropTask(s);  // the last one gone: the installation is reset
      }
      break;
    default:
      changed = false;
      break;
  }
  // Whatever else came is refused, so that its sender never waits for ever.
  if (!answered_) {
    if (s == kMasterIndex) answerConsole(kReplyRefused);
    else answer(s, kReplyRefused);
    changed = false;
  }
  if (changed) refresh = 1;
  slotsHeld.unlock();
  if (running != wasRunning) Console::setTitle(running ? "QS_M" : "QS_M(stop)");
  if (stopping >= 0) {
    // The process the master started for the slot is ended (and waited
    // for) while the slot still shows it; then the slot is freed.
    platform::ProcessId process;
    {
      std::lock_guard<std::recursive_mutex> held(slotsLock);
      process = slots[static_cast<size_t>(stopping)].process;
      slots[static_cast<size_t>(stopping)].process = platform::ProcessId{};
      slots[static_cast<size_t>(stopping)].ending = true;
    }
    if (process.value != 0) platform::terminateProcess(process);
    std::lock_guard<std::recursive_mutex> held(slotsLock);
    // A task deleted goes as one that left: the last one gone, the
    // installation is reset. A slot not in use may hold a process the
    // operator started meanwhile: that one stays.
    TaskSlot& t = slots[static_cast<size_t>(stopping)];
    if (t.inUse) {
      if (dropTask(stopping)) resetDue = true;
    } else if (t.process.value == 0) {
      freeSlot(stopping);
    } else {
      t.ending = false;
    }
    refresh = 1;  // the table shows the slot free only now
  }
  if (lastTaskLeft()) resetDue = true;
  if (resetDue) resetInstallation();
  if (leaving) {
    attached = 0;
    return true;
  }
  reapLostTasks();
  schedule();
  publishStand();
  return false;
}

}  // namespace qs
