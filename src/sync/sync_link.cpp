#include "sync/sync_link.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "devlink/dev_link.h"
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

// A task waiting for its master can give up with Esc (the master may be gone).
bool operatorGaveUp() { return Console::keyPending() && Console::readKey() == kKeyEsc; }

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

void SyncLink::settleMailbox() {
  MailboxState state(view);
  // A message that nobody answered (its sender died) is withdrawn so that
  // the master never answers it over the next one; one the master is
  // answering gets its answer first (or is dropped when the master is gone).
  for (uint32_t start = platform::tickCount();;) {
    if (state.change(BoxState::kPosted, BoxState::kWithdrawn)) break;
    if (state.get() != BoxState::kTaken) break;
    if (platform::tickCount() - start >= kTakenWaitMs) break;
    platform::sleepMs(1);
  }
  state.set(BoxState::kFree);
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
  bool stop = false;
  for (;;) {
    if (state.get() == BoxState::kAnswered) break;
    uint32_t spent = platform::tickCount() - start;
    if (limitMs != platform::kWaitForever && spent >= limitMs) stop = true;
    if (limitMs == platform::kWaitForever && giveUp && giveUp()) {
      if (gaveUp != nullptr) *gaveUp = true;
      stop = true;
    }
    if (stop) {
      // Not taken yet: withdrawn, nobody answers it. Taken: its answer is
      // on its way (or the master died with it).
      if (state.change(BoxState::kPosted, BoxState::kWithdrawn)) return -2;
      uint32_t taken = platform::tickCount();
      while (state.get() != BoxState::kAnswered && platform::tickCount() - taken < kTakenWaitMs) platform::sleepMs(1);
      if (state.get() != BoxState::kAnswered) {
        state.set(BoxState::kWithdrawn);
        return -2;
      }
      break;
    }
    uint32_t slice = 100;
    if (limitMs != platform::kWaitForever && limitMs - spent < slice) slice = limitMs - spent;
    if (ownEvent->wait(slice)) ownEvent->reset();
  }
  int result = checkReply(type);
  state.set(BoxState::kFree);
  return result;
}

int SyncLink::post(const SyncMessage& message, uint32_t mailboxWaitMs) {
  if (attached == 0) return 0;
  if (view == nullptr || !mutex || !masterEvent || !ownEvent) return -1;
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
  if (!mutex->lock(mailboxWaitMs)) return -2;
  settleMailbox();
  if (task) {  // what the master left for an earlier request is over
    releaseByte(ownIndex) = 0;
    abortByte(ownIndex) = 0;
  }
  bool gaveUp = false;
  int result = exchange(bytes, message.type, limit, &gaveUp);
  if (gaveUp && result == 1 && waitsForStep && task) {
    // Accepted just as the operator gave up: the master is told that this
    // task no longer waits.
    exchange(encodeMessage(ownIndex, simpleMessage(kMsgIdle)), kMsgIdle, kNoReplyWaitMs, nullptr);
  }
  mutex->unlock();
  if (gaveUp) return kKeyEsc;

  if (message.type == kMsgAskMode || result != 1) return result;
  if (waitsForStep) {
    // Accepted: wait until the master has done it for every task (its
    // release byte says so; the event only wakes this wait).
    while (!(task && (releaseByte(ownIndex) != 0 || abortByte(ownIndex) == 27))) {
      if (ownEvent->wait(100)) ownEvent->reset();
      if (!task) break;
      if (giveUp && giveUp()) {
        // The master is told that this task no longer waits, so that its
        // release or abort is not kept for a later request.
        post(simpleMessage(kMsgIdle));
        return kKeyEsc;
      }
    }
    if (task) releaseByte(ownIndex) = 0;
    if (task && abortByte(ownIndex) == 27) {
      abortByte(ownIndex) = 0;
      return 27;
    }
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
