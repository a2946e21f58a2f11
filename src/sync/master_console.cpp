// The master's start and its console: the task table, the operator's keys,
// the slave processes it starts, and the handing of keys to the master's
// thread.
#include <cstdio>
#include <chrono>
#include <cstring>

#include "console/codepage.h"
#include "console/console.h"
#include "metrology/validity.h"
#include "settings/class_rows.h"
#include "settings/laboratory.h"
#include "settings/settings.h"
#include "platform/time.h"
#include "sync/master_common.h"

namespace qs {

using master::kStepLockMs;
using master::kTableLockMs;
using master::ScreenLock;

const char* taskStateName(int state) {
  static const char* const kNames[7] = {"State",         "Wait ",    "Wait_Get_Power_ZU",  "Wait_Set_Param_ZU",
                                        "Wait_Reset_ZU", "Exit_Adj", "Vrf_Wait_Load_File:"};
  return state >= 0 && state <= 6 ? kNames[state] : "";
}

const char* stepName(int step) {
  static const char* const kNames[11] = {"A",       "B",          "C",            "ABC", "AC(Q)", "IMP_ON",
                                         "IMP_OFF", "Set_Active", "Set_Reactive", "AB",  "BC"};
  return step >= 0 && step <= 10 ? kNames[step] : "";
}

// ---- the keyboard, handed over ----------------------------------------------------------

bool KeyHandoff::offer(int key) {
  std::lock_guard<std::mutex> lock(m_);
  if (wantKey_ && key_ < 0) {
    key_ = key;
    cv_.notify_all();
    return true;
  }
  if (key == kKeyEsc && (busy_ || std::chrono::steady_clock::now() < quietUntil_)) {
    // Meant for the work in progress, or for work that an Esc has just
    // stopped (an operator who presses Esc twice to stop a step that keeps
    // failing does not end the master with the second one).
    if (busy_) esc_ = stoppedByEsc_ = true;
    return true;
  }
  return false;
}

void KeyHandoff::open() {
  std::lock_guard<std::mutex> lock(m_);
  open_ = true;
  closed_ = false;
}

bool KeyHandoff::escPressed() {
  std::unique_lock<std::mutex> lock(m_);
  if (!open_ && !closed_) {  // no console thread: the keyboard is this thread's own
    lock.unlock();
    return Console::escAmongWaitingKeys();
  }
  bool esc = esc_ || closed_;  // the master ends: what it does stops
  esc_ = false;
  return esc;
}

int KeyHandoff::waitKey() {
  // Meanwhile the benches are told that the stand waits for this key.
  struct Asking {
    const std::function<void(bool)>& said;
    explicit Asking(const std::function<void(bool)>& s) : said(s) {
      if (said) said(true);
    }
    ~Asking() {
      if (said) said(false);
    }
  } asking(onAsk);
  std::unique_lock<std::mutex> lock(m_);
  if (!open_ && !closed_) {
    lock.unlock();
    return Console::readKey();
  }
  wantKey_ = true;
  key_ = -1;
  cv_.wait(lock, [this] { return key_ >= 0 || closed_; });
  wantKey_ = false;
  int key = key_ >= 0 ? key_ : kKeyEsc;
  key_ = -1;
  return key;
}

void KeyHandoff::setBusy(bool busy) {
  std::lock_guard<std::mutex> lock(m_);
  if (busy_ && !busy && stoppedByEsc_) quietUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuietMs);
  if (busy != busy_) stoppedByEsc_ = false;
  busy_ = busy;
  esc_ = false;
}

void KeyHandoff::close() {
  std::lock_guard<std::mutex> lock(m_);
  closed_ = true;
  cv_.notify_all();
}

bool KeyHandoff::waitingForKey() {
  std::lock_guard<std::mutex> lock(m_);
  return wantKey_;
}

// ---- the task table -----------------------------------------------------------------------

int SyncLink::showTasks() {
  if (refresh == 0) return 0;
  refresh = 0;
  // The rows as the slots stand now (the master's thread may change them
  // while they are drawn).
  std::string rows[kMaxTasks];
  unsigned count = 0;
  {
    std::lock_guard<std::recursive_mutex> held(slotsLock);
    count = taskCount;
    for (int i = 1; i <= kMaxTasks; ++i) {
      const TaskSlot& t = slots[static_cast<size_t>(i - 1)];
      char text[160];
      if (!t.inUse) {
        std::snprintf(text, sizeof text, "%u.Disable ", static_cast<unsigned>(i));
      } else {
        int n = std::snprintf(text, sizeof text, "%u.(0x%02X,COM%u): %s", static_cast<unsigned>(i), t.address,
                              static_cast<unsigned>(t.port), taskStateName(t.state));
        if (t.state == kTaskWaitStep)
          std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "(%u,%u,%s)", static_cast<unsigned>(t.A),
                        static_cast<unsigned>(t.S + 1), stepName(t.P));
        if (t.state == kTaskWaitLoad)
          std::snprintf(text + n, sizeof text - static_cast<size_t>(n), " %s", t.programmeName.c_str());
      }
      rows[i - 1] = text;
    }
  }
  // Drawn whole between two outputs of the master's thread (which may be
  // working on a step and drawing on its own rows meanwhile).
  Console::Aside aside;
  Console::setColor(kAttrNormal);
  Console::clearLinesWide(1, 3 + kMaxTasks);  // the heading and a row for each slot
  Console::print("Slave Task: %u(%s)", count, running ? " Start " : " Stop ");
  Console::gotoXY(32, 1);
  Console::print("TASP: %08X", static_cast<unsigned>(currentStep));
  Console::gotoXY(27, 2);
  uint32_t step = static_cast<uint32_t>(currentStep);
  Console::print("CurrentZU: T=%1u, A=%02u, S=%02u,", step >> 24, (step >> 16) & 0xFF, ((step >> 8) & 0xFF) + 1);
  int p = static_cast<int>(step & 0xFF);
  if (phasesForStep(p) >= 0 || p == kStepPulseOn || p == kStepPulseOff) Console::print(" P=%s    ", stepName(p));
  else Console::print(" P=     ");
  for (int i = 1; i <= kMaxTasks; ++i) {
    Console::gotoXY(3, i + 3);
    if (i - 1 == cursor) Console::setColor(kAttrSelected);
    Console::print("%s", rows[i - 1].c_str());
    if (i - 1 == cursor) Console::setColor(kAttrNormal);
  }
  return 0;
}

// ---- slave processes ----------------------------------------------------------------------

int SyncLink::startSlaves(int first, int count) {
  std::lock_guard<std::recursive_mutex> held(slotsLock);
  for (int i = first; i < first + count && i < kMaxTasks; ++i) {
    TaskSlot& t = slots[static_cast<size_t>(i)];
    if (t.process.value != 0) t.process = platform::ProcessId{};
    platform::ProcessId id;
    if (platform::startInNewConsole(programPath, "s" + std::to_string(i + 1), i, &id)) t.process = id;
  }
  return 0;
}

// ---- the console --------------------------------------------------------------------------

void SyncLink::pumpKey(int key) {
  if (!keys.offer(key)) consoleKeys_.push_back(key);
}

int SyncLink::console() {
  cursor = 0;
  Console::clearLinesWide(1, 10);
  keys.open();
  // While the console waits for an answer (the master's thread may be busy
  // with a step), it goes on reading keys: an Esc may be meant for the step.
  giveUp = [this] {
    // A task that left is freed at once, also while the master's thread
    // works on a step (and this thread waits for its answer); that thread
    // resets the installation when the last one went.
    if (takeLeaves()) {
      lastLeft_ = true;
      masterEvent->set();
      showTasks();
    }
    while (Console::keyPending()) {
      int key = Console::readKey();
      if (key == kKeyPrefixFunction || key == kKeyPrefixCursor) key = Console::readKey();
      pumpKey(key);
    }
    return false;
  };
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
    if (consoleKeys_.empty()) {
      platform::sleepMs(50);
      showTasks();
      giveUp();  // keys meant for the master's thread go there at once
      if (consoleKeys_.empty()) continue;
    }
    int key = consoleKeys_.front();
    consoleKeys_.pop_front();
    if (key == kKeyEsc) break;
    bool cursorInUse;
    {
      std::lock_guard<std::recursive_mutex> held(slotsLock);
      cursorInUse = slots[static_cast<size_t>(cursor)].inUse != 0;
    }
    switch (key) {
      case 'a': {
        // No run starts on a reference installation past its calibration,
        // nor in conditions outside the method's bounds, nor with a
        // laboratory's class rows that do not hold together.
        std::string refusal = metrology::referenceRefusal(settingsPath("common.sch"), todayText());
        if (refusal.empty())
          refusal = metrology::dayConditionsRefusal(settingsPath("common.sch"), kConditionsFileName, todayText());
        std::string rowsRefusal = classRowsRefusal(readClassRows(settingsPath("classes.sch")));
        if (refusal.empty() && rowsRefusal.empty()) {
          post(byteMessage(kMsgRunControl, 1));
        } else if (!refusal.empty()) {
          master::ScreenLock lock(screenMutex, master::kStepLockMs);
          Console::clearLines(18, 2);
          Console::print("%s", refusal.c_str());
        } else {
          master::ScreenLock lock(screenMutex, master::kStepLockMs);
          Console::clearLines(18, 2);
          std::vector<std::string> lines = wrappedText(rowsRefusal, 77);
          for (size_t i = 0; i < lines.size() && i < 2; ++i) {
            Console::gotoXY(0, 18 + static_cast<int>(i));
            Console::print("%s", lines[i].c_str());
          }
        }
        break;
      }
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
        if (!cursorInUse) startSlaves(cursor, 1);
        refresh = 1;
        break;
      case 'S':  // Del
        post(byteMessage(kMsgStopTask, static_cast<uint8_t>(cursor)));
        break;
      case 'U': case 'u':
        if (cursorInUse) post(byteMessage(kMsgUnblockTask, static_cast<uint8_t>(cursor)));
        break;
      case '?': post(simpleMessage(kMsgZuReset)); break;
      default:
        if (key >= '1' && key <= '9') {
          cursor = key - '1';
          refresh = 1;
          std::lock_guard<std::recursive_mutex> held(slotsLock);
          if (!slots[static_cast<size_t>(cursor)].inUse) startSlaves(cursor, 1);
        }
        break;
    }
  }
  // The master ends: its thread lets waiting tasks go (with an abort) and
  // stops; a key it waits for is given as Esc.
  keys.close();
  while (post(simpleMessage(kMsgLeave)) != 0) {
    // not taken yet: the master's thread is still stopping what it did
  }
  if (masterThread_.joinable()) masterThread_.join();
  publishMaster(false);
  giveUp = nullptr;
  Console::gotoXY(0, 18);
  Console::print("Exit_master");
  for (TaskSlot& t : slots) t = TaskSlot{};
  return 0;
}

int SyncLink::runMaster(DevLink*) {
  refresh = 1;
  Console::clearLines(0, 15);
  attached = 1;
  // Another master: one that published itself and runs (it may be busy with
  // a step and answer nothing for a while), or one that answers.
  if (masterRunning() == 1 || post(simpleMessage(kMsgPresence)) == 0) {
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
  publishMaster(true);
  for (TaskSlot& t : slots) t = TaskSlot{};
  startSlaves(0, key - '0');
  taskCount = 0;
  if (zu != nullptr) {
    zu->publishInto(view + kAverageOffset, view + kChannelValuesOffset, view + kAverageCountOffset,
                    view + kChannelCountOffset);
    zu->keys = &keys;
    std::memset(view + kChannelValuesOffset, 0, kMailboxOffset - kChannelValuesOffset);  // channel values, average
  }
  int r = console();
  if (zu != nullptr) zu->keys = nullptr;
  return r;
}

}  // namespace qs
