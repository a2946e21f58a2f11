// A process's link to the verification stand: the shared block, its
// mailbox and the named objects, and the exchange of one message with the
// master.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/named_event.h"
#include "platform/shared_objects.h"
#include "sync/sync_block.h"
#include "zu/zu_controller.h"

namespace qs {

class DevLink;

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
  int checkReply(uint8_t type);
  void clearBlock();
  // Makes the reply event of `index` (after registration).
  bool remakeOwnEvent(uint8_t index);

  uint8_t* block() { return view; }
  // Task index `i`'s abort byte.
  uint8_t& abortByte(int i) { return view[kAbortOffset + static_cast<size_t>(i)]; }

  // ZuMaster
  bool isSlave() const override { return role == 1 && attached == 1; }
  int programmeVariant() const override { return variant; }
  void setProgrammeVariant(int v) override { variant = static_cast<uint8_t>(v); }
  int postStep(int variant, int group, int point, int step) override;
  int postReset() override;
  int postMode() override;
  int postLoad(const std::string& key, int identity, int variant, int group) override;

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
};

// The name of the reply event of process index `index`.
std::string replyEventName(unsigned index);

}  // namespace qs
