#include "sync/sync_link.h"

#include <cstdio>
#include <cstring>

#include "console/codepage.h"
#include "console/console.h"
#include "devlink/dev_link.h"
#include "platform/process.h"
#include "platform/time.h"

namespace qs {
namespace {

const std::string kBlockName = "ZU_SYNCHRONIZATON";
const std::string kMutexName = "ZU_SYNCHRONIZATON_MUTEX";
const std::string kSemaphoreName = "ZU_SYNCHRONIZATON_SEM";
const std::string kMasterEventName = "ZU_SYNCHRONIZATON_EVENT";
// A sender of a message without a reply of its own keeps the mailbox until
// the master has acknowledged it, at most this long.
constexpr uint32_t kNoReplyWaitMs = 500;
// The master answers a message it took at once; a message taken and not
// answered within this time was taken by a master that is gone.
constexpr uint32_t kTakenWaitMs = 2000;
// How often a waiting task looks whether its master is still running.
constexpr uint32_t kMasterLookMs = 1000;

// A task waiting for its master can give up with Esc (the master may be
// gone); other keys typed meanwhile are dropped at once, so that Esc is
// seen at the next look however much was typed before it.
bool operatorGaveUp() { return Console::escAmongWaitingKeys(); }

}  // namespace

std::string replyEventName(unsigned index) { return "SYN_EVENT_DR" + std::to_string(index); }

void removeStandObjects(const std::string& stand) {
  for (const std::string& base : {kMutexName, kSemaphoreName, kMasterEventName})
    platform::removeNamedObject(base + stand);
  for (unsigned i = 0; i < 256; ++i) platform::removeNamedObject(replyEventName(i) + stand);
  std::remove(platform::sharedBlockPath(kBlockName + stand).c_str());
}

SyncLink::SyncLink(const std::string& path, DevLink* device, ZuController* controller, const std::string& standName)
    : programPath(path), zu(controller), dev(device), stand(standName) {
  variant = device != nullptr ? static_cast<uint8_t>(device->initStatus) : 0;
  giveUp = [this] { return role == 1 && operatorGaveUp(); };
  keys.onAsk = [this](bool asking) { publishStand(true, asking); };
  init(kBlockName + stand, kSyncBlockSize);
}

int SyncLink::init(const std::string& name, size_t blockSize) {
  attached = 0;
  role = 1;
  ownIndex = kNoIndex;
  ready = 0;
  mailboxOffset = kMailboxOffset;
  size = blockSize;
  int stage = 0;
  shared = platform::openSharedBlock(name, blockSize, &stage);
  if (!shared) return stage == 1 ? -1 : stage == 2 ? -2 : -3;
  view = shared->data();
  mutex = platform::openNamedMutex(kMutexName + stand);
  if (!mutex) return -4;
  semaphore = platform::openNamedSemaphore(kSemaphoreName + stand, 9, 9);
  if (!semaphore) return -5;
  // The master's event is not reset here: a message may be waiting for the
  // master right now (the master resets it itself before it looks).
  masterEvent = platform::openNamedEvent(kMasterEventName + stand, true, false);
  if (!masterEvent) return -6;
  if (!remakeOwnEvent(ownIndex)) return -1;
  ready = 1;
  return 0;
}

bool SyncLink::remakeOwnEvent(uint8_t index) {
  ownEvent = platform::openNamedEvent(replyEventName(index) + stand, true, false);
  if (!ownEvent) return false;
  // The event of index 255 is shared by the master and every task not yet
  // registered: a start must not erase a signal meant for another process.
  if (index != kNoIndex) ownEvent->reset();
  return true;
}

uint32_t SyncLink::taskPid(int i) const {
  uint32_t pid = 0;
  if (view == nullptr || i < 0 || i >= kMaxTasks) return 0;
  const uint8_t* p = view + kTaskPidOffset + 4 * static_cast<size_t>(i);
  for (int b = 3; b >= 0; --b) pid = (pid << 8) | p[b];
  return pid;
}

void SyncLink::setTaskPid(int i, uint32_t pid) {
  if (view == nullptr || i < 0 || i >= kMaxTasks) return;
  uint8_t* p = view + kTaskPidOffset + 4 * static_cast<size_t>(i);
  for (int b = 0; b < 4; ++b) p[b] = static_cast<uint8_t>(pid >> (8 * b));
}

namespace {

uint32_t loadWord(uint8_t* view, size_t offset) {
  return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view + offset)).load(std::memory_order_acquire);
}

void storeWord(uint8_t* view, size_t offset, uint32_t value) {
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view + offset)).store(value, std::memory_order_release);
}

}  // namespace

bool SyncLink::masterGone() const {
  if (role != 1) return false;
  int running = masterRunning();
  if (joined != 1 || joinedMasterPid_ == 0) return running == -1;
  // Any other master in the block is not this task's: it never registered
  // there, and its index there may be another task's.
  return running != 1 || loadWord(view, kMasterPidOffset) != joinedMasterPid_ ||
         loadWord(view, kMasterMarkOffset) != joinedMasterMark_;
}

void SyncLink::rememberMaster() {
  if (view == nullptr) return;
  joinedMasterPid_ = loadWord(view, kMasterPidOffset);
  joinedMasterMark_ = loadWord(view, kMasterMarkOffset);
}

uint8_t SyncLink::loadByte(size_t offset) const {
  if (view == nullptr) return 0;
  return std::atomic_ref<uint8_t>(view[offset]).load(std::memory_order_acquire);
}

void SyncLink::storeByte(size_t offset, uint8_t value, bool release) {
  if (view == nullptr) return;
  std::atomic_ref<uint8_t>(view[offset]).store(value, release ? std::memory_order_release : std::memory_order_relaxed);
}

void SyncLink::letGo(int i, bool abort) {
  if (abort) storeByte(kAbortOffset + static_cast<size_t>(i), 27);
  storeByte(kReleaseOffset + static_cast<size_t>(i), 1, true);
}

void SyncLink::clearLetGo(int i) {
  storeByte(kAbortOffset + static_cast<size_t>(i), 0);
  storeByte(kReleaseOffset + static_cast<size_t>(i), 0, true);
}

bool SyncLink::takeLetGo(int i, bool* aborted) {
  bool released = releaseByte(i) != 0;
  bool abort = abortByte(i) == 27;
  if (!released && !abort) return false;
  if (aborted != nullptr) *aborted = abort;
  storeByte(kReleaseOffset + static_cast<size_t>(i), 0);
  storeByte(kAbortOffset + static_cast<size_t>(i), 0, true);
  return true;
}

void SyncLink::cancelWait(int i) {
  if (masterGone()) return;  // (a later master's task of that index is not this one)
  storeByte(kCancelOffset + static_cast<size_t>(i), 1, true);
  if (masterEvent) masterEvent->set();  // the master looks at once
}

void SyncLink::markLeaving() {
  // A task whose master is gone says nothing: a later master may have given
  // its index to another task.
  if (ownIndex >= kMaxTasks || masterGone()) return;
  storeByte(kLeaveOffset + ownIndex, 1, true);
  if (masterEvent) masterEvent->set();
}

bool SyncLink::takeCancel(int i) {
  if (loadByte(kCancelOffset + static_cast<size_t>(i)) == 0) return false;
  storeByte(kCancelOffset + static_cast<size_t>(i), 0);
  return true;
}

int SyncLink::masterRunning() const {
  if (view == nullptr) return 0;
  uint32_t pid = loadWord(view, kMasterPidOffset);
  if (pid == 0) return 0;
  bool same = platform::pidRunning(pid) &&
              static_cast<uint32_t>(platform::processStartMark(pid)) == loadWord(view, kMasterMarkOffset);
  return same ? 1 : -1;
}

void SyncLink::publishMaster(bool present) {
  if (view == nullptr) return;
  uint32_t pid = present ? platform::ownProcessId() : 0;
  storeWord(view, kMasterMarkOffset, present ? static_cast<uint32_t>(platform::processStartMark(pid)) : 0);
  storeWord(view, kMasterPidOffset, pid);
}

void SyncLink::publishStand(bool busy, bool asks) {
  if (view == nullptr || role == 1) return;  // only the master says it
  uint32_t state = kStandPublished | (running != 0 ? kStandRunning : 0) | (busy ? kStandBusy : 0) |
                   (asks ? kStandAsks : 0);
  {
    std::lock_guard<std::recursive_mutex> held(slotsLock);
    for (int i = 0; i < kMaxTasks; ++i) {
      const TaskSlot& t = slots[static_cast<size_t>(i)];
      if (t.inUse && t.state != kTaskExit && !t.waiting) state |= 1u << i;
    }
  }
  storeWord(view, kStandStateOffset, state);
}

void SyncLink::publishStepBegan() {
  if (view != nullptr) storeWord(view, kStepBeganOffset, platform::tickCount() | 1u);
}

bool SyncLink::stepBegan(uint32_t* tick) const {
  uint32_t began = view == nullptr ? 0 : loadWord(view, kStepBeganOffset);
  if (began == 0) return false;  // (a tick is published odd: never 0)
  *tick = began;
  return true;
}

uint32_t SyncLink::standState() const { return view == nullptr ? 0 : loadWord(view, kStandStateOffset); }

namespace {
// The row under the bench's menu and table, where nothing else is drawn.
constexpr int kWaitRow = 37;
}  // namespace

void SyncLink::showWait(const std::string& text) {
  if (text == waitShown_) return;
  waitShown_ = text;
  ConsolePos at = Console::getCursor();
  uint16_t attr = Console::color();
  Console::gotoXY(0, kWaitRow);
  Console::setColor(kAttrWarning);
  Console::printText(text.c_str());
  // Blanks over the text before, short of the last column (no scroll).
  size_t cells = characterCount(text);
  Console::setColor(kAttrNormal);
  if (cells < 99) Console::printText(std::string(99 - cells, ' ').c_str());
  Console::setColor(attr);
  Console::setCursor(at);
}

void SyncLink::clearBlock() {
  if (view == nullptr) return;
  mutex->lock(platform::kWaitForever);
  std::memset(view, 0, size);
  mutex->unlock();
}

int SyncLink::checkReply(uint8_t type) {
  const uint8_t* m = view + mailboxOffset;
  if (m[0] != kMasterIndex) return -1;
  if (m[1] != type) return -2;
  if (m[2] != kReplyAccepted) return -3;
  if (type == kMsgReleaseStep || type == kMsgLeave) return 0;  // acknowledged
  if (type < 1 || type > 13) return -30;
  switch (type) {
    case kMsgRegister:
      ownIndex = m[3];
      variant = m[4];
      return m[3] == kNoIndex ? -4 : 0;
    case kMsgZuStep: case kMsgZuReset: case kMsgLoadProgramme:
      return m[3] == 1 ? 1 : 0;
    case kMsgAskMode:
      return m[3];
    case 2: case 3:
      return -30;
    default:
      return 0;
  }
}

int SyncLink::post(const SyncMessage& message) { return post(message, platform::kWaitForever); }

bool SyncLink::awaitTakenAnswer(uint32_t since) {
  MailboxState state(view);
  for (;;) {
    BoxState b = state.get();
    if (b != BoxState::kTaken && b != BoxState::kAnswering) return true;
    // A master that is gone never answers; one that never published itself
    // (an older one) is given a while.
    int master = masterRunning();
    bool gone = master == -1 || (master == 0 && platform::tickCount() - since >= kTakenWaitMs);
    if (gone && state.change(BoxState::kTaken, BoxState::kWithdrawn)) return false;
    if (giveUp && giveUp()) return false;  // the operator leaves (the master may be stopped)
    platform::sleepMs(1);
  }
}

bool SyncLink::settleMailbox() {
  MailboxState state(view);
  // A message that nobody answered (its sender died) is withdrawn so that
  // the master never answers it over the next one; one the master is
  // answering gets its answer first.
  state.change(BoxState::kPosted, BoxState::kWithdrawn);
  if (!awaitTakenAnswer(platform::tickCount())) {
    if (state.get() == BoxState::kTaken || state.get() == BoxState::kAnswering) return false;
  }
  state.set(BoxState::kFree);
  return true;
}

int SyncLink::exchange(const std::vector<uint8_t>& bytes, uint8_t type, uint32_t limitMs, bool* gaveUp) {
  MailboxState state(view);
  uint8_t* box = view + mailboxOffset;
  std::memset(box, 0, kMailboxBytes);
  std::memcpy(box, bytes.data(), bytes.size());
  ownEvent->reset();
  state.set(BoxState::kPosted);
  masterEvent->set();
  uint32_t start = platform::tickCount();
  uint32_t looked = start;
  for (;;) {
    BoxState b = state.get();
    if (b == BoxState::kAnswered) break;
    uint32_t now = platform::tickCount();
    bool stop = limitMs != platform::kWaitForever && now - start >= limitMs;
    if (now - looked >= kMasterLookMs) {  // a master that is gone answers nothing
      looked = now;
      if (masterGone()) stop = true;
    }
    if (!stop && limitMs == platform::kWaitForever && giveUp && giveUp()) {
      if (gaveUp != nullptr) *gaveUp = true;
      stop = true;
    }
    if (stop) {
      // Not taken yet: withdrawn, nobody answers it. Taken: its answer is
      // on its way, unless the master is gone.
      if (state.change(BoxState::kPosted, BoxState::kWithdrawn)) return -2;
      if (!awaitTakenAnswer(now)) return -2;
      if (state.get() != BoxState::kAnswered) return -2;
      break;
    }
    uint32_t slice = 100;
    if (limitMs != platform::kWaitForever && limitMs - (now - start) < slice) slice = limitMs - (now - start);
    if (ownEvent->wait(slice)) ownEvent->reset();
  }
  int result = checkReply(type);
  state.set(BoxState::kFree);
  return result;
}

int SyncLink::post(const SyncMessage& message, uint32_t mailboxWaitMs) {
  if (attached == 0) return 0;
  if (view == nullptr || !mutex || !masterEvent || !ownEvent) return -1;
  if (joined == 1 && masterGone()) return -2;  // nobody to answer it
  if ((message.type == kMsgStopTask || message.type == kMsgUnblockTask) && ownIndex != kMasterIndex) return -1;
  std::vector<uint8_t> bytes = encodeMessage(ownIndex, message);
  if (bytes.empty()) return -1;
  int64_t wait = replyWait(message.type);
  // Messages without a reply of their own are still taken and acknowledged:
  // their sender keeps the mailbox until then (a master that is gone cannot
  // hold it for long).
  uint32_t limit = wait == 0 ? kNoReplyWaitMs : wait == 0xFFFFFFFFll ? platform::kWaitForever : static_cast<uint32_t>(wait);
  bool waitsForStep = message.type == kMsgZuStep || message.type == kMsgZuReset || message.type == kMsgLoadProgramme;
  bool task = ownIndex < kMaxTasks;

  // The mailbox may be held by a sender the busy master has not answered
  // yet: the wait for it goes on reading the operator's keys.
  for (uint32_t start = platform::tickCount();;) {
    uint32_t spent = platform::tickCount() - start;
    if (mailboxWaitMs != platform::kWaitForever && spent >= mailboxWaitMs) return -2;
    uint32_t slice = mailboxWaitMs == platform::kWaitForever || mailboxWaitMs - spent > 100 ? 100 : mailboxWaitMs - spent;
    if (mutex->lock(slice)) break;
    if (giveUp && giveUp()) return kKeyEsc;
  }
  if (!settleMailbox()) {
    mutex->unlock();
    return giveUp ? kKeyEsc : -2;
  }
  bool gaveUp = false;
  int result = exchange(bytes, message.type, limit, &gaveUp);
  mutex->unlock();
  if (gaveUp) {
    // Accepted just as the operator gave up: the master is told that this
    // task no longer waits.
    if (result == 1 && waitsForStep && task) cancelWait(ownIndex);
    return kKeyEsc;
  }

  if (message.type == kMsgAskMode || result != 1) return result;
  if (waitsForStep) {
    // Accepted: wait until the master has done it for every task (its
    // release byte says so; the event only wakes this wait).
    // Meanwhile the bench's status row says what the stand waits for.
    uint32_t looked = platform::tickCount();
    bool aborted = false;
    struct Cleared {
      SyncLink* link;
      ~Cleared() { link->showWait(""); }
    } cleared{this};
    while (task && !takeLetGo(ownIndex, &aborted)) {
      showWait(standWaitText(standState(), ownIndex));
      if (ownEvent->wait(100)) ownEvent->reset();
      if (platform::tickCount() - looked >= kMasterLookMs) {
        looked = platform::tickCount();
        if (masterGone()) return -2;  // nobody will let this wait go
      }
      if (giveUp && giveUp()) {
        cancelWait(ownIndex);  // the master no longer waits for this task
        return kKeyEsc;
      }
    }
    if (aborted) return 27;
  }
  return 0;
}

int SyncLink::postStep(int v, int group, int point, int step) { return post(zuStepMessage(v, group, point, step)); }

int SyncLink::postReset() { return post(simpleMessage(kMsgZuReset)); }

int SyncLink::postMode() { return post(simpleMessage(kMsgAskMode)); }

int SyncLink::postLoad(const std::string& key, int identity, int v, int group) {
  SyncMessage m = loadMessage(identity, v, group, key);
  if (m.type == 0) return -1;  // a key longer than a slot holds is refused
  return post(m);
}

}  // namespace qs
