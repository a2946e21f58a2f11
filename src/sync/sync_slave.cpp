// A slave joining its master.
#include <cstdio>

#include "console/console.h"
#include "devlink/dev_link.h"
#include "platform/time.h"
#include "sync/sync_link.h"

namespace qs {

int SyncLink::joinMaster(DevLink* device, int taskNumber) {
  if (joined == 1) return 0;
  uint8_t entryIndex = ownIndex;
  dev = device;
  ownIndex = taskNumber >= 1 && taskNumber <= kMaxTasks ? static_cast<uint8_t>(taskNumber - 1) : kNoIndex;
  attached = 1;
  // The presence check still waits on the event of index 255.
  uint8_t taskIndex = ownIndex;
  int answered = -1;
  for (int attempt = 0; attempt < 4 && answered != 0; ++attempt) {
    if (attempt > 0) platform::sleepMs(300);
    uint8_t keep = ownIndex;
    // A master that published itself and runs is there, busy or not.
    answered = masterRunning() == 1 ? 0 : post(simpleMessage(kMsgPresence));
    ownIndex = keep;
  }
  if (answered != 0) {
    Console::clearLines(15, 1);
    Console::print("Ошибка! программа QS_Master не найдена");
    Console::readKey();
    attached = 0;
    return 1;
  }
  Console::setTitle("QS_S(Init)");
  if (taskIndex != kNoIndex && !remakeOwnEvent(taskIndex)) {
    attached = 0;
    return -1;
  }
  Console::gotoXY(80, 3);
  Console::print("Init");
  uint8_t port = 0, state = 0, address = 0;
  if (device != nullptr) {
    port = device->channel ? device->channel->portNumber : 0;
    state = static_cast<uint8_t>(device->initStatus);
    address = device->deviceAddress;
  }
  if (post(registerMessage(port, state, address, platform::ownProcessId())) != 0) {
    attached = 0;
    return -2;
  }
  if (entryIndex == kNoIndex && !remakeOwnEvent(ownIndex)) {
    attached = 0;
    return -3;
  }
  joined = 1;
  attached = 1;
  rememberMaster();
  setTaskPid(ownIndex, platform::ownProcessId());
  if (zu != nullptr)
    zu->publishInto(view + kAverageOffset, view + kChannelValuesOffset, view + kAverageCountOffset,
                    view + kChannelCountOffset);
  Console::gotoXY(80, 2);
  Console::print("TaskNum: %u", static_cast<unsigned>(ownIndex + 1));
  char title[16];
  std::snprintf(title, sizeof title, "QS_S%u", static_cast<unsigned>(ownIndex + 1));
  Console::setTitle(title);
  return 0;
}

}  // namespace qs
