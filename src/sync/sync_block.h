// The 256-byte block that the processes of a verification stand share, and
// the messages of its mailbox.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs {

inline constexpr size_t kSyncBlockSize = 256;
// The head of the block (bytes 0-31) holds words that several processes
// change at once, each 4 bytes, aligned, changed only atomically:
// the state of the mailbox (see MailboxState),
inline constexpr size_t kMailboxStateOffset = 0;
// what the stand waits for, as the master last saw it (see StandState), so
// that a bench that waits can say for whom,
inline constexpr size_t kStandStateOffset = 4;
// how many averages the master's installation reader has published, and how
// many values of each of the three channels (so that a bench can tell a
// value measured now from one it has seen before),
inline constexpr size_t kAverageCountOffset = 8;
inline constexpr size_t kChannelCountOffset = 12;  // three words
// and the master's process id and the low word of its start mark (see
// platform::processStartMark), so that every process can tell whether the
// master of the block is running, also while it is busy with a step.
inline constexpr size_t kMasterPidOffset = 24;
inline constexpr size_t kMasterMarkOffset = 28;
inline constexpr size_t kMailboxOffset = 100;
inline constexpr size_t kMailboxBytes = 20;
// The abort byte of task index i. They sit in the unused head of the block,
// where they overlap none of the published values.
inline constexpr size_t kAbortOffset = 32;
// The master's system tick (ms) when it began to set the installation to
// the last test point, so that a bench counts a point's time from there and
// not from its own request (which may have waited for the stand).
inline constexpr size_t kStepBeganOffset = 44;
// The release byte of task index i: the master sets it to 1 when it lets a
// waiting request go, so that a release is never lost between two signals.
inline constexpr size_t kReleaseOffset = 48;
// The cancel byte of task index i: the task sets it to 1 when its operator
// gives up a wait the master accepted (no mutex needed, so the task leaves
// at once even while the master is busy); the master then no longer counts
// the task as waiting.
inline constexpr size_t kCancelOffset = 57;
inline constexpr size_t kChannelValuesOffset = 68;  // three doubles
inline constexpr size_t kAverageOffset = 92;        // one double
inline constexpr size_t kMaxKeyText = 99;           // a programme key, as a task slot holds it
// The process id of task index i (4 bytes, little-endian), written by the
// task once registered, so that the master can tell a task that died. They
// sit past the longest message the mailbox carries.
inline constexpr size_t kTaskPidOffset = 208;
static_assert(kMailboxOffset + 8 + kMaxKeyText + 1 <= kTaskPidOffset, "a programme key reaches the task ids");
// The leave byte of task index i: a task whose window is closed (or that
// leaves otherwise) sets it to 1 before it says so in the mailbox, so that
// its slot is freed at once, also while the master works on a step and
// takes no message.
inline constexpr size_t kLeaveOffset = 244;
static_assert(kTaskPidOffset + 4 * 9 <= kLeaveOffset && kLeaveOffset + 9 <= kSyncBlockSize, "the leave bytes");

inline constexpr uint8_t kMasterIndex = 254;
inline constexpr uint8_t kNoIndex = 255;
inline constexpr int kMaxTasks = 9;
inline constexpr uint8_t kReplyAccepted = 6;
inline constexpr uint8_t kReplyRefused = 21;

enum SyncMessageType : uint8_t {
  kMsgRegister = 1,
  kMsgZuStep = 4,
  kMsgPresence = 5,
  kMsgRunControl = 6,
  kMsgZuReset = 7,
  kMsgIdle = 8,
  kMsgLeaveCalibration = 9,
  kMsgLoadProgramme = 10,
  kMsgStopTask = 11,
  kMsgUnblockTask = 12,
  kMsgAskMode = 13,
  kMsgReleaseStep = 15,
  kMsgLeave = 27,
};

// Where the mailbox's exchange stands. A sender holds the stand's mutex for
// its whole exchange: it writes its message and posts it; the master takes
// it (only a posted message, and only once), claims the answer (only a
// message still taken), writes it over the message and marks it answered;
// the sender reads the answer. A sender that gives up waiting withdraws its
// message, which the master then never answers; once the master has taken
// it, the sender waits for the answer instead (the master answers before it
// does any long work), unless the master is gone. A sender that died leaves
// a state the next holder of the mutex settles before it writes.
enum class BoxState : uint32_t { kFree = 0, kPosted = 1, kTaken = 2, kAnswered = 3, kWithdrawn = 4, kAnswering = 5 };

class MailboxState {
 public:
  explicit MailboxState(uint8_t* block) : word_(reinterpret_cast<uint32_t*>(block + kMailboxStateOffset)) {}
  BoxState get() const { return static_cast<BoxState>(ref().load(std::memory_order_acquire)); }
  void set(BoxState s) { ref().store(static_cast<uint32_t>(s), std::memory_order_release); }
  // Moves from `from` to `to` unless somebody moved it first.
  bool change(BoxState from, BoxState to) {
    uint32_t expected = static_cast<uint32_t>(from);
    return ref().compare_exchange_strong(expected, static_cast<uint32_t>(to), std::memory_order_acq_rel);
  }

 private:
  std::atomic_ref<uint32_t> ref() const { return std::atomic_ref<uint32_t>(*word_); }
  uint32_t* word_;
};

// The stand as its master publishes it: whether it runs (key a), whether
// the master works on the installation, whether it waits for its
// operator's key (a message on its screen), and which
// active tasks hold the others back (bit i: task index i has not asked for
// what the waiting ones wait for). 0: nothing published (no master yet).
inline constexpr uint32_t kStandPublished = 1u << 31;
inline constexpr uint32_t kStandRunning = 1u << 30;
inline constexpr uint32_t kStandBusy = 1u << 29;
inline constexpr uint32_t kStandAsks = 1u << 28;  // the master waits for its operator's key
// What a task of index `ownIndex` that waits shows on its status row: the
// stand stopped, the master at work, the tasks it waits for, or "" (nothing
// known that holds it).
std::string standWaitText(uint32_t state, int ownIndex);

// Arguments of a message, by type.
struct SyncMessage {
  uint8_t type = 0;
  std::vector<uint8_t> args;  // the bytes from mailbox byte 2 on
};

// The bytes a sender writes into the mailbox; empty for a type that does not
// exist or a key text that does not fit.
std::vector<uint8_t> encodeMessage(uint8_t senderIndex, const SyncMessage& message);
// A registration carries the task's process id (4 bytes, little-endian)
// after the three bytes of its device link, so that the master watches the
// task's own process from the moment it registers.
SyncMessage registerMessage(uint8_t port, uint8_t deviceState, uint8_t address, uint32_t processId);
SyncMessage zuStepMessage(int variant, int group, int point, int step);
SyncMessage loadMessage(int identity, int variant, int group, const std::string& key);
SyncMessage simpleMessage(uint8_t type);
SyncMessage byteMessage(uint8_t type, uint8_t value);

// How long a sender of `type` waits for its reply: 0 none, else milliseconds
// (0xFFFFFFFF without limit); -1 for a type that does not exist.
int64_t replyWait(uint8_t type);

}  // namespace qs
