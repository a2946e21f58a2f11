// The master's decisions: after each message, whether every active task now
// wants the same programme, the same step or a reset, and then driving the
// installation and letting the tasks go.
#include "settings/settings.h"
#include "console/console.h"
#include "console/text_file.h"
#include "platform/time.h"
#include "sync/master_common.h"

namespace qs {

using master::kStepLockMs;
using master::programmeTag;
using master::ScreenLock;

namespace {

constexpr const char* kNoProgramme = "\n\nОшибка данных нет, калибровка/поверка невозможна.";

// What is wrong with the programme the tasks asked for, in the words a
// bench of its own uses for the same line ("" when the file was not found).
std::string programmeProblem(const ZuController* zu) {
  return zu == nullptr || zu->programmeError.empty() ? "" : "\n" + zu->programmeError;
}

// The master's thread works on the installation: an Esc at the master's
// keyboard is then meant for that work.
class Busy {
 public:
  explicit Busy(KeyHandoff& keys) : keys_(keys) { keys_.setBusy(true); }
  ~Busy() { keys_.setBusy(false); }

 private:
  KeyHandoff& keys_;
};

}  // namespace

void SyncLink::releaseWaiting(int state, int step, bool abort) {
  std::lock_guard<std::recursive_mutex> held(slotsLock);
  for (TaskSlot& t : slots) {
    if (!t.inUse || !t.waiting || t.state != state) continue;
    if (state == kTaskWaitStep && step >= 0 && t.step != step) continue;
    int i = static_cast<int>(&t - slots.data());
    t.state = kTaskIdle;
    t.waiting = 0;
    letGo(i, abort);
    if (t.event) t.event->set();
  }
}

void SyncLink::resetInstallation() {
  currentStep = -1;
  {
    ScreenLock lock(screenMutex, kStepLockMs);
    if (zu != nullptr) zu->reset();
  }
  refresh = 1;  // the table shows the installation holding no step
}

int SyncLink::loadForSlot(const TaskSlot& t) {
  if (zu == nullptr) return -1;
  return zu->loadProgramme(settingsPath("common1.sch"), t.programmeName, t.programmeId, t.T, t.A);
}

int SyncLink::operatorKey() { return keys.waitKey(); }

bool SyncLink::pulseOnAt(int number) {
  TestPoint* point = zu->findTestPoint(number);
  if (point == nullptr) return false;  // not a point of the loaded programme
  for (;;) {
    // The installation may have lost the point meanwhile (a reset): it is
    // set again first, so that the pulse error is measured at this point.
    if (zu->established != 1 || zu->currentTestPoint != point) {
      if (zu->setTestPoint(number, point->phases) != 0) return false;
    }
    int r = zu->pulseErrorOn(number);
    if (r == 0) return true;
    // Not confirmed: tried again every 3 seconds, as a test point is, until
    // it is or the operator stops it.
    if (zu->failurePause(r)) return false;
    zu->reset();
  }
}

bool SyncLink::executeStep(const TaskSlot& t) {
  if (zu == nullptr) return true;  // a master without an installation (tests)
  {
    ScreenLock lock(screenMutex, kStepLockMs);
    bool loaded = true;
    if (!t.programmeName.empty() && (t.programmeName != programmeName || programmeTag(t) != programmeId)) {
      loaded = loadForSlot(t) == 0;
      if (loaded) {
        programmeName = t.programmeName;
        programmeId = programmeTag(t);
      } else {
        Console::print("%s%s", kNoProgramme, programmeProblem(zu).c_str());
      }
    }
    if (loaded) {
      switch (t.P) {
        case kStepPulseOn:
          return pulseOnAt(t.S + 1);
        case kStepPulseOff:
          zu->pulseErrorOff(t.S + 1);  // nothing to switch off is done as well
          return true;
        case kStepActive: case kStepReactive:
          return zu->switchMode(t.P == kStepReactive ? 1 : 0) == 0;
        default: {
          int phases = phasesForStep(t.P);
          if (phases < 0) return false;  // a step this master does not know
          if ((t.T == 0 || t.T == 2) && phases < kPhaseABC) {
            TestPoint* p = zu->findTestPoint(t.S + 1);
            if (p != nullptr) p->fictPow = 1;
          }
          publishStepBegan();
          return zu->setTestPoint(t.S + 1, phases) == 0;
        }
      }
    }
  }
  operatorKey();  // the programme did not load: the operator has seen it
  return false;
}

namespace {

// What the master needs of a task's request once it lets go of the slots.
TaskSlot requestOf(const TaskSlot& t) {
  TaskSlot r;
  r.programmeName = t.programmeName;
  r.programmeId = t.programmeId;
  r.T = t.T;
  r.A = t.A;
  r.S = t.S;
  r.P = t.P;
  r.step = t.step;
  return r;
}

}  // namespace

int SyncLink::schedule() {
  if (taskCount == 0 || running == 0) return 0;
  showTasks();
  int count[7] = {};
  bool sameNames = true;
  bool loadDue = false, stepDue = false;
  TaskSlot load, step;
  {
    std::lock_guard<std::recursive_mutex> held(slotsLock);
    int loadSlot = -1, stepSlot = -1;
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
        if (stepSlot < 0 || slots[static_cast<size_t>(stepSlot)].step == 0 ||
            t.step < slots[static_cast<size_t>(stepSlot)].step)
          stepSlot = i;
      }
    }
    int active = taskCount - count[kTaskExit];
    loadDue = loadSlot >= 0 && count[kTaskWaitLoad] == active;
    if (loadSlot >= 0) load = requestOf(slots[static_cast<size_t>(loadSlot)]);
    // (A load that is due makes no task wait for a step meanwhile.)
    stepDue = !loadDue && stepSlot >= 0 && count[kTaskWaitStep] == active && count[kTaskIdle] == 0;
    if (stepSlot >= 0) step = requestOf(slots[static_cast<size_t>(stepSlot)]);
    count[kTaskExit] = active;  // from here: the active tasks
  }
  int active = count[kTaskExit];
  if (loadDue) {
    if (!sameNames) {
      {
        ScreenLock lock(screenMutex, kStepLockMs);
        Console::clearLines(18, 2);
        Console::print("Ошибка указанны разные файлы для поверки");
        Console::print("\nнажмите любую клавишу.");
      }
      operatorKey();
      ScreenLock lock(screenMutex, kStepLockMs);
      Console::clearLines(18, 2);
      running = 0;
      return 1;
    }
    if (loadForSlot(load) != 0) {
      {
        ScreenLock lock(screenMutex, kStepLockMs);
        Console::print("%s%s", kNoProgramme, programmeProblem(zu).c_str());
      }
      operatorKey();
      return 0;
    }
    programmeName = load.programmeName;
    programmeId = programmeTag(load);
    releaseWaiting(kTaskWaitLoad, -1);
    return 1;
  }
  if (stepDue) {
    currentStep = step.step;
    refresh = 1;
    showTasks();
    // An Esc at the master until the tasks are let go is meant for this step.
    Busy busy(keys);
    publishStand(true);
    bool done = executeStep(step);
    // A step that was not done is not reported as done: its tasks are let
    // go with an abort, and the installation holds no known step.
    if (!done) resetInstallation();
    releaseWaiting(kTaskWaitStep, step.step, !done);
    refresh = 1;
    return 1;
  }
  if (count[kTaskWaitReset] != 0 && count[kTaskWaitReset] == active - count[kTaskWaitStep]) {
    resetInstallation();
    releaseWaiting(kTaskWaitReset, -1);
    return 1;
  }
  return 0;
}
}  // namespace qs
