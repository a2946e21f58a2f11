#include "sync/sync_block.h"

namespace qs {

int64_t replyWait(uint8_t type) {
  switch (type) {
    case kMsgRegister: case kMsgZuStep: case kMsgRunControl: case kMsgZuReset: case kMsgIdle:
    case kMsgLeaveCalibration: case kMsgLoadProgramme: case kMsgStopTask: case kMsgUnblockTask:
      return 0xFFFFFFFFll;
    case kMsgPresence: case kMsgAskMode:
      return 500;
    case kMsgReleaseStep: case kMsgLeave:
      return 0;
    default:
      return -1;
  }
}

std::vector<uint8_t> encodeMessage(uint8_t senderIndex, const SyncMessage& m) {
  if (replyWait(m.type) < 0) return {};
  std::vector<uint8_t> bytes{senderIndex, m.type};
  bytes.insert(bytes.end(), m.args.begin(), m.args.end());
  if (bytes.size() > kSyncBlockSize - kMailboxOffset) return {};
  return bytes;
}

SyncMessage registerMessage(uint8_t port, uint8_t deviceState, uint8_t address, uint32_t processId) {
  SyncMessage m{kMsgRegister, {port, deviceState, address}};
  for (int i = 0; i < 4; ++i) m.args.push_back(static_cast<uint8_t>(processId >> (8 * i)));
  return m;
}

SyncMessage zuStepMessage(int variant, int group, int point, int step) {
  return SyncMessage{kMsgZuStep, {static_cast<uint8_t>(variant), static_cast<uint8_t>(group),
                                  static_cast<uint8_t>(point), static_cast<uint8_t>(step)}};
}

SyncMessage loadMessage(int identity, int variant, int group, const std::string& key) {
  SyncMessage m{kMsgLoadProgramme, {}};
  if (key.size() > kMaxKeyText) return SyncMessage{0, {}};  // refused: it would not fit a slot
  uint32_t id = static_cast<uint32_t>(identity);
  for (int i = 0; i < 4; ++i) m.args.push_back(static_cast<uint8_t>(id >> (8 * i)));
  m.args.push_back(static_cast<uint8_t>(variant));
  m.args.push_back(static_cast<uint8_t>(group));
  m.args.insert(m.args.end(), key.begin(), key.end());
  m.args.push_back(0);
  return m;
}

SyncMessage simpleMessage(uint8_t type) { return SyncMessage{type, {}}; }

SyncMessage byteMessage(uint8_t type, uint8_t value) { return SyncMessage{type, {value}}; }

std::string standWaitText(uint32_t state, int ownIndex) {
  if ((state & kStandPublished) == 0) return "";
  if ((state & kStandAsks) != 0) return "Ожидание оператора ведущей задачи (сообщение на её экране)";
  if ((state & kStandRunning) == 0) return "Ожидание запуска стенда (клавиша A на ведущей задаче)";
  if ((state & kStandBusy) != 0) return "Ведущая задача работает с установкой";
  std::string tasks;
  for (int i = 0; i < kMaxTasks; ++i) {
    if (i == ownIndex || (state & (1u << i)) == 0) continue;
    tasks += (tasks.empty() ? "" : ", ") + std::to_string(i + 1);
  }
  return tasks.empty() ? "" : "Ожидание задач стенда: " + tasks;
}

}  // namespace qs
