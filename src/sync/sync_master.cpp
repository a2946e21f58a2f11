// The master of a verification stand: its start, the slave processes, the
// task table and console, the mailbox answers and the scheduling of the
// installation's steps.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/text_file.h"
#include "platform/time.h"
#include "sync/sync_link.h"

namespace qs {
namespace {

constexpr uint32_t kStepLockMs = 10000;
constexpr uint32_t kTableLockMs = 20000;
constexpr uint32_t kReapIntervalMs = 1000;

// Holds the master's screen lock for a while; goes on without it after the wait.
class ScreenLock {
 public:
  ScreenLock(std::timed_mutex& m, uint32_t ms) : m_(m), held_(m.try_lock_for(std::chrono::milliseconds(ms))) {}
  ~ScreenLock() {
    if (held_) m_.unlock();
  }

 private:
  std::timed_mutex& m_;
  bool held_;
};

std::string settingsFile(const char* name) {
#ifdef _WIN32
  return std::string("QS_ADD\\") + name;
#else
  return std::string("QS_ADD/") + name;
#endif
}

// A step request as one number (variant, group, point, step from the top
// byte down), so that steps compare in programme order. The variant byte may
// carry the sign bit: the bytes are packed unsigned and read back as the
// 32-bit value they form.
int32_t stepCode(int32_t t, int32_t a, int32_t s, int32_t p) {
  uint32_t v = (static_cast<uint32_t>(t) << 24) + (static_cast<uint32_t>(a) << 16) + (static_cast<uint32_t>(s) << 8) +
               static_cast<uint32_t>(p);
  return static_cast<int32_t>(v);
}

// The programme a task asks for: its identity with the variant in the top byte.
int32_t programmeTag(const TaskSlot& t) {
  return static_cast<int32_t>(static_cast<uint32_t>(t.programmeId) + (static_cast<uint32_t>(t.T) << 24));
}

}  // namespace

const char* taskStateName(int state) {
  static const char* const kNames[7] = {"State",         "Wait ",    "Wait_Get_Power_ZU",  "Wait_Set_Param_ZU",
                                        "Wait_Reset_ZU", "Exit_Adj", "Vrf_Wait_Load_File:"};
  return state >= 0 && state <= 6 ? kNames[state] : "";
}

const char* stepName(int step) {
  static const char* const kNames[9] = {"A", "B", "C", "ABC", "AC(Q)", "IMP_ON", "IMP_OFF", "Set_Active", "Set_Reactive"};
  return step >= 0 && step <= 8 ? kNames[step] : "";
}

// ---- answers ------------------------------------------------------------------------------

void SyncLink::answer(int s, uint8_t code) {
  uint8_t* box = view + mailboxOffset;
  box[0] = kMasterIndex;
  box[2] = code;
  if (s >= 0 && s < kMaxTasks && slots[static_cast<size_t>(s)].event) {
    slots[static_cast<size_t>(s)].event->set();
    return;
  }
  // No event of its own (a refusal to a slot not in use): wake the sender
  // by its event's name, so that it never waits for ever.
  auto reply = platform::openNamedEvent(replyEventName(static_cast<unsigned>(s < 0 ? kNoIndex : s)) + stand, true, false);
  if (reply) reply->set();
}

void SyncLink::answerConsole() {
  uint8_t* box = view + mailboxOffset;
  box[0] = kMasterIndex;
  box[2] = kReplyAccepted;
  ownEvent->set();
}

void SyncLink::freeSlot(int i) {
  TaskSlot& t = slots[static_cast<size_t>(i)];
  if (t.process.value != 0) platform::terminateProcess(t.process);
  t = TaskSlot{};
  setTaskPid(i, 0);
}

void SyncLink::dropTask(int i) {
  freeSlot(i);
  if (taskCount > 0 && --taskCount == 0) resetInstallation();  // the last one is gone
}

int SyncLink::reapLostTasks() {
  int lost = 0;
  for (int i = 0; i < kMaxTasks; ++i) {
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (!t.inUse) continue;
    uint32_t pid = taskPid(i);
    bool running = pid != 0 ? platform::pidRunning(pid) : t.process.value == 0 || platform::processAlive(t.process);
    if (running) continue;
    dropTask(i);
    ++lost;
  }
  if (lost != 0) refresh = 1;
  return lost;
}

void SyncLink::releaseWaiting(int state, int step) {
  for (TaskSlot& t : slots) {
    if (!t.inUse || !t.waiting || t.state != state) continue;
    if (state == kTaskWaitStep && step >= 0 && t.step != step) continue;
    t.state = kTaskIdle;
    t.waiting = 0;
    releaseByte(static_cast<int>(&t - slots.data())) = 1;
    if (t.event) t.event->set();
  }
}

void SyncLink::resetInstallation() {
  currentStep = -1;
  ScreenLock lock(screenMutex, kStepLockMs);
  if (zu != nullptr) zu->reset();
}

int SyncLink::loadForSlot(const TaskSlot& t) {
  if (zu == nullptr) return -1;
  return zu->loadProgramme(settingsFile("common1.sch"), t.programmeName, t.programmeId, t.T, t.A);
}

// ---- the master thread ---------------------------------------------------------------------

int SyncLink::dispatch() {
  for (;;) {
    // Woken by a message, or once a second to look for tasks that died
    // while the others wait for them.
    if (!masterEvent->wait(kReapIntervalMs)) {
      if (reapLostTasks() != 0) {
        int r = schedule();
        if (r != 0) refresh = r;
      }
      continue;
    }
    masterEvent->reset();
    if (takeMessage()) return 0;
  }
}

bool SyncLink::takeMessage() {
  int wasRunning = running;
  uint8_t* box = view + mailboxOffset;
  int s = box[0];
  int type = box[1];
  bool inUse = s < kMaxTasks && slots[static_cast<size_t>(s)].inUse;
  TaskSlot* slot = s < kMaxTasks ? &slots[static_cast<size_t>(s)] : nullptr;
  bool changed = true;
  bool leaving = false;
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
        box[0] = kMasterIndex;
        box[2] = kReplyRefused;
        ownEvent->set();
        changed = false;
        break;
      }
      TaskSlot& t = slots[static_cast<size_t>(index)];
      if (!t.inUse) {
        setTaskPid(index, 0);  // left by an earlier task of this index: the new one writes its own
        t.event = platform::openNamedEvent(replyEventName(static_cast<unsigned>(index)) + stand, true, false);
        if (!t.event) {
          answer(s, kReplyRefused);
          changed = false;
          break;
        }
        t.event->reset();
        t.inUse = 1;
        t.port = box[2];
        ++taskCount;
      }
      t.address = box[4];
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
      slot->step = stepCode(slot->T, slot->A, slot->S, slot->P);
      accept(currentStep == slot->step && running == 1);
      break;
    case kMsgPresence:
      answerConsole();
      changed = false;
      break;
    case kMsgRunControl:
      running = box[2];
      ownEvent->set();
      break;
    case kMsgZuReset:
      if (s == kMasterIndex) {
        bool anyIdle = false;
        for (const TaskSlot& t : slots) anyIdle = anyIdle || (t.inUse && t.state == kTaskIdle);
        if (!anyIdle) resetInstallation();
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
      slot->state = kTaskIdle;
      answer(s, kReplyAccepted);
      break;
    case kMsgLeaveCalibration: {
      if (!inUse) {
        refuse();
        break;
      }
      slot->state = kTaskExit;
      running = 0;
      int exited = 0;
      for (const TaskSlot& t : slots) exited += t.inUse && t.state == kTaskExit;
      if (exited != 0 && exited == taskCount) resetInstallation();
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
      accept(slot->programmeName == programmeName && programmeTag(*slot) == programmeId);
      break;
    }
    case kMsgStopTask: {
      int d = box[2];
      if (d < kMaxTasks) {
        if (slots[static_cast<size_t>(d)].inUse) --taskCount;
        freeSlot(d);
      }
      answerConsole();
      break;
    }
    case kMsgUnblockTask: {
      int d = box[2];
      changed = false;
      if (d < kMaxTasks && slots[static_cast<size_t>(d)].inUse && slots[static_cast<size_t>(d)].waiting) {
        TaskSlot& t = slots[static_cast<size_t>(d)];
        abortByte(d) = 27;
        releaseByte(d) = 1;
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
          releaseByte(static_cast<int>(&t - slots.data())) = 1;
          t.event->set();
        }
        ownEvent->set();  // taken
      }
      break;
    case kMsgLeave:
      if (s == kMasterIndex) {
        for (TaskSlot& t : slots) {
          if (t.inUse && t.waiting && t.event) {
            releaseByte(static_cast<int>(&t - slots.data())) = 1;
            t.event->set();
          }
          t.event.reset();
        }
        ownEvent->set();  // taken
        leaving = true;
      } else if (inUse) {
        slot->event->set();  // taken
        slot->process = platform::ProcessId{};  // the process ends by itself
        dropTask(s);
      }
      break;
    default:
      changed = false;
      break;
  }
  if (changed) refresh = 1;
  if (running != wasRunning) Console::setTitle(running ? "QS_M" : "QS_M(stop)");
  if (leaving) {
    attached = 0;
    return true;
  }
  reapLostTasks();
  int r = schedule();
  if (r != 0) refresh = r;
  return false;
}

int SyncLink::schedule() {
  if (taskCount == 0 || running == 0) return 0;
  showTasks();
  int count[7] = {};
  int loadSlot = -1, stepSlot = -1;
  bool sameNames = true;
  std::string firstName;
  for (int i = 0; i < kMaxTasks; ++i) {
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (!t.inUse) continue;
    if (t.state >= 0 && t.state <= 6) ++count[t.state];
    if (!t.waiting) continue;
    if (t.state == kTaskWaitLoad) {
      if (loadSlot < 0) firstName = t.programmeName;
      else if (!sameKey(firstName, t.programmeName)) sameNames = false;
      loadSlot = i;
    } else if (t.state == kTaskWaitStep) {
      if (stepSlot < 0 || slots[static_cast<size_t>(stepSlot)].step == 0 || t.step < slots[static_cast<size_t>(stepSlot)].step)
        stepSlot = i;
    }
  }
  int active = taskCount - count[kTaskExit];
  if (loadSlot >= 0 && count[kTaskWaitLoad] == active) {
    if (!sameNames) {
      {
        ScreenLock lock(screenMutex, kStepLockMs);
        Console::clearLines(18, 2);
        Console::print("Ошибка указанны разные файлы для поверки");
        Console::print("\nнажмите любую клавишу.");
      }
      Console::readKey();
      ScreenLock lock(screenMutex, kStepLockMs);
      Console::clearLines(18, 2);
      running = 0;
      return 1;
    }
    TaskSlot& t = slots[static_cast<size_t>(loadSlot)];
    if (loadForSlot(t) != 0) {
      {
        ScreenLock lock(screenMutex, kStepLockMs);
        Console::print("\n\nОшибка данных нет, калибровка/поверка невозможна.");
      }
      Console::readKey();
      return 0;
    }
    programmeName = t.programmeName;
    programmeId = programmeTag(t);
    releaseWaiting(kTaskWaitLoad, -1);
  }
  if (stepSlot >= 0 && count[kTaskWaitStep] == active && count[kTaskIdle] == 0) {
    TaskSlot& t = slots[static_cast<size_t>(stepSlot)];
    currentStep = t.step;
    int executed = t.step;
    {
      ScreenLock lock(screenMutex, kStepLockMs);
      if (!t.programmeName.empty() && (t.programmeName != programmeName || programmeTag(t) != programmeId)) {
        if (loadForSlot(t) != 0) {
          Console::print("\n\nОшибка данных нет, калибровка/поверка невозможна.");
          return 0;
        }
        programmeName = t.programmeName;
        programmeId = programmeTag(t);
      }
      if (zu != nullptr) {
        switch (t.P) {
          case kStepPulseOn: zu->pulseErrorOn(t.S + 1); break;
          case kStepPulseOff: zu->pulseErrorOff(t.S + 1); break;
          case kStepActive: return 7;
          case kStepReactive: return 8;
          default: {
            if ((t.T == 0 || t.T == 2) && t.P < 3) {
              TestPoint* p = zu->findTestPoint(t.S + 1);
              if (p != nullptr) p->fictPow = 1;
            }
            zu->setTestPoint(t.S + 1, t.P);
            break;
          }
        }
      }
    }
    releaseWaiting(kTaskWaitStep, executed);
    return 1;
  }
  if (count[kTaskWaitReset] != 0 && count[kTaskWaitReset] == active - count[kTaskWaitStep]) {
    resetInstallation();
    releaseWaiting(kTaskWaitReset, -1);
    return 1;
  }
  return 0;
}

// ---- the console ----------------------------------------------------------------------------

int SyncLink::showTasks() {
  if (refresh == 0) return 0;
  if (refresh == 7 || refresh == 8) return refresh;
  ScreenLock lock(screenMutex, kTableLockMs);
  ConsolePos saved = Console::getCursor();
  refresh = 0;
  Console::clearLinesWide(1, 11);
  Console::print("Slave Task: %u(%s)", static_cast<unsigned>(taskCount), running ? " Start " : " Stop ");
  Console::gotoXY(32, 1);
  Console::print("TASP: %08X", static_cast<unsigned>(currentStep));
  Console::gotoXY(27, 2);
  uint32_t step = static_cast<uint32_t>(currentStep);
  Console::print("CurrentZU: T=%1u, A=%02u, S=%02u,", step >> 24, (step >> 16) & 0xFF, ((step >> 8) & 0xFF) + 1);
  int p = static_cast<int>(step & 0xFF);
  if (p <= 6) Console::print(" P=%s    ", stepName(p));
  else Console::print(" P=     ");
  for (int i = 1; i <= kMaxTasks; ++i) {
    const TaskSlot& t = slots[static_cast<size_t>(i - 1)];
    Console::gotoXY(3, i + 3);
    if (i - 1 == cursor) Console::setColor(kAttrSelected);
    if (t.inUse) {
      Console::print("%u.(0x%02X,COM%u): %s", static_cast<unsigned>(i), t.address, static_cast<unsigned>(t.port),
                     taskStateName(t.state));
      if (t.state == kTaskWaitStep) Console::print("(%u,%u,%s)", static_cast<unsigned>(t.A), static_cast<unsigned>(t.S + 1), stepName(t.P));
      if (t.state == kTaskWaitLoad) Console::print(" %s", t.programmeName.c_str());
    } else {
      Console::print("%u.Disable ", static_cast<unsigned>(i));
    }
    if (i - 1 == cursor) Console::setColor(kAttrNormal);
  }
  Console::setCursor(saved);
  return 0;
}

int SyncLink::startSlaves(int first, int count) {
  for (int i = first; i < first + count && i < kMaxTasks; ++i) {
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (t.process.value != 0) t.process = platform::ProcessId{};
    platform::ProcessId id;
    if (platform::startInNewConsole(programPath, "s" + std::to_string(i + 1), i, &id)) t.process = id;
  }
  return 0;
}

int SyncLink::console() {
  cursor = 0;
  Console::clearLinesWide(1, 10);
  try {
    masterThread_ = std::thread([this] {
      dispatch();
      ScreenLock lock(screenMutex, kStepLockMs);
      Console::gotoXY(0, 22);
      Console::print("MasterThread  - Exit");
    });
  } catch (...) {
    Console::clearLines(15, 7);
    Console::print("Ошибка! невозможно создать поток SynMasterThread\n");
    Console::readKey();
    return 0;
  }
  {
    ScreenLock lock(screenMutex, kTableLockMs);
    Console::gotoXY(0, 28);
    Console::print("Функциональные клавиши.");
    Console::print("\r\n---------------------------");
    Console::print("\r\n <A>  - Старт.");
    Console::print("\r\n <S>  - Стор.");
    Console::print("\r\n<1>-<%u> - Добавить задачу.", 9u);
    Console::print("\r\n<Ins> - Добавить задачу.");
    Console::print("\r\n<Del> - Удалить задачу.");
    Console::print("\r\n <U>  - Разблокировать задачу.");
  }
  // (A slave whose process is gone is freed by the master's thread.)
  for (;;) {
    platform::sleepMs(50);
    int r = showTasks();
    if (r == 7 || r == 8) {
      if (zu != nullptr) zu->switchMode(r - 7);
      refresh = 0;
      post(byteMessage(kMsgReleaseStep, static_cast<uint8_t>(r)));
    }
    if (!Console::keyPending()) continue;
    int key = Console::readKey();
    if (key == 0 || key == kKeyPrefixCursor) key = Console::readKey();
    if (key == kKeyEsc) break;
    switch (key) {
      case 'a': post(byteMessage(kMsgRunControl, 1)); break;
      case 's': post(byteMessage(kMsgRunControl, 0)); break;
      case kScanUp:
        if (cursor > 0) --cursor;
        refresh = 1;
        break;
      case kScanDown:
        if (cursor < kMaxTasks - 1) ++cursor;
        refresh = 1;
        break;
      case 'R':  // Ins
        if (!slots[static_cast<size_t>(cursor)].inUse) startSlaves(cursor, 1);
        refresh = 1;
        break;
      case 'S':  // Del
        post(byteMessage(kMsgStopTask, static_cast<uint8_t>(cursor)));
        break;
      case 'U': case 'u':
        if (slots[static_cast<size_t>(cursor)].inUse) post(byteMessage(kMsgUnblockTask, static_cast<uint8_t>(cursor)));
        break;
      case '?': post(simpleMessage(kMsgZuReset)); break;
      default:
        if (key >= '1' && key <= '9') {
          cursor = key - '1';
          refresh = 1;
          if (!slots[static_cast<size_t>(cursor)].inUse) startSlaves(cursor, 1);
        }
        break;
    }
  }
  post(simpleMessage(kMsgLeave));
  for (int i = 0; i < 200 && attached != 0; ++i) platform::sleepMs(50);
  if (masterThread_.joinable()) {
    if (attached == 0) masterThread_.join();
    else masterThread_.detach();
  }
  Console::gotoXY(0, 18);
  Console::print("Exit_master");
  for (TaskSlot& t : slots) t = TaskSlot{};
  return 0;
}

int SyncLink::runMaster(DevLink*) {
  refresh = 1;
  Console::clearLines(0, 15);
  attached = 1;
  if (post(simpleMessage(kMsgPresence)) == 0) {
    Console::clearLines(15, 1);
    Console::print("Ошибка! программа QS_Master уже запущена");
    Console::readKey();
    return 1;
  }
  role = 0;
  ownIndex = kMasterIndex;
  Console::setTitle("QS_M(stop)");
  Console::clearLines(15, 1);
  Console::print("Введите колличество ведомых задач от 1 до %u:", 9u);
  int key = Console::readKey();
  Console::clearLines(15, 1);
  if (key < '0' || key > '9') {
    Console::print("Ошибка! не правильное число задач(1..%u]", 9u);
    return 1;
  }
  if (ready != 1) {
    Console::print("Ошибка! Буфер синхронизации не инициализирован.");
    return 1;
  }
  clearBlock();
  for (TaskSlot& t : slots) t = TaskSlot{};
  startSlaves(0, key - '0');
  taskCount = 0;
  if (zu != nullptr) {
    zu->avgValue = reinterpret_cast<double*>(view + kAverageOffset);
    zu->channelValues = reinterpret_cast<double*>(view + kChannelValuesOffset);
    std::memset(view + kChannelValuesOffset, 0, kMailboxOffset - kChannelValuesOffset);  // channel values, average
  }
  return console();
}

}  // namespace qs
