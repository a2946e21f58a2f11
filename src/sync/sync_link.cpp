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
// A sender of a message without a reply keeps the mailbox until the master
// has taken it, at most this long (a master that is gone cannot hold it).
constexpr uint32_t kTakenWaitMs = 500;

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
  masterEvent = platform::openNamedEvent(kMasterEventName + stand, true, false);
  if (!masterEvent) return -6;
  masterEvent->reset();
  if (!remakeOwnEvent(ownIndex)) return -1;
  ready = 1;
  return 0;
}

bool SyncLink::remakeOwnEvent(uint8_t index) {
  ownEvent = platform::openNamedEvent(replyEventName(index) + stand, true, false);
  if (!ownEvent) return false;
  ownEvent->reset();
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

namespace {

// A task waiting for its master can give up with Esc (the master may be gone).
bool operatorGaveUp(uint8_t role) { return role == 1 && Console::keyPending() && Console::readKey() == kKeyEsc; }

}  // namespace

int SyncLink::post(const SyncMessage& message, uint32_t mailboxWaitMs) {
  if (attached == 0) return 0;
  if (view == nullptr || !mutex || !masterEvent || !ownEvent) return -1;
  if ((message.type == kMsgStopTask || message.type == kMsgUnblockTask) && ownIndex != kMasterIndex) return -1;
  std::vector<uint8_t> bytes = encodeMessage(ownIndex, message);
  if (bytes.empty()) return -1;
  int64_t wait = replyWait(message.type);

  bool task = ownIndex < kMaxTasks;
  if (!mutex->lock(mailboxWaitMs)) return -2;
  if (task) releaseByte(ownIndex) = 0;
  uint8_t* box = view + mailboxOffset;
  std::memset(box, 0, kMailboxBytes);
  std::memcpy(box, bytes.data(), bytes.size());
  ownEvent->reset();
  masterEvent->set();
  int result;
  if (wait == 0) {
    ownEvent->wait(kTakenWaitMs);  // the master has taken it (or is gone)
    ownEvent->reset();
    result = checkReply(message.type);
  } else {
    // The reply is in the mailbox before the event is set; a signal that
    // comes without it (left from an earlier exchange) is not taken for one.
    uint32_t start = platform::tickCount();
    bool replied = false;
    for (;;) {
      if (box[0] == kMasterIndex && box[1] == message.type) {
        replied = true;
        break;
      }
      uint32_t spent = platform::tickCount() - start;
      if (wait != 0xFFFFFFFFll && spent >= static_cast<uint32_t>(wait)) break;
      if (wait == 0xFFFFFFFFll && operatorGaveUp(role)) {
        mutex->unlock();
        return kKeyEsc;
      }
      uint32_t slice = wait == 0xFFFFFFFFll ? 100 : static_cast<uint32_t>(wait) - spent;
      if (ownEvent->wait(slice < 100 ? slice : 100)) ownEvent->reset();
    }
    result = replied ? checkReply(message.type) : -2;
  }
  mutex->unlock();

  if (message.type == kMsgAskMode || result != 1) return result;
  if (message.type == kMsgZuStep || message.type == kMsgZuReset || message.type == kMsgLoadProgramme) {
    // Accepted: wait until the master has done it for every task (its
    // release byte says so; the event only wakes this wait).
    while (!(task && (releaseByte(ownIndex) != 0 || abortByte(ownIndex) == 27))) {
      if (ownEvent->wait(100)) ownEvent->reset();
      if (!task) break;
      if (operatorGaveUp(role)) return kKeyEsc;
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
