// The device-link frame: 0x5B, command, address, length, payload, 16-bit
// checksum high byte first. Requests are built and sent here, answers are
// assembled from the byte stream and decoded into the DeviceState.
#pragma once
#include <cstddef>
#include <cstdint>

#include "devlink/device_state.h"

namespace qs {

class DevLink;
class Channel;

inline constexpr uint8_t kFrameStart = 0x5B;
inline constexpr int kSerialByNumberCode = 0x107B;  // wire 0x7B, addressed by serial number

// Checksum over the command, address, length and payload bytes.
uint16_t frameChecksum(const uint8_t* bytes, size_t count);

// The four argument words of a request, plus the data of 0x6C and the
// double of 0x78.
struct RequestArgs {
  uint32_t a1 = 0, a2 = 0, a3 = 0, a4 = 0;
  const uint8_t* data = nullptr;  // 0x6C: bytes to write
  double value = 0;               // 0x78: value to store
};

// Builds and sends one request and gives the device its command's pause to
// answer, as a deadline from the write (the receiver reads at once).
// Returns the frame length; -1 for a code without an encoding, -108 for a
// 0x6C request of more than 16 bytes (nothing is sent then).
int sendRequest(DevLink& link, DeviceState* state, int code, const RequestArgs& args = {});
// The device has `ms` to answer, from now (a request just written).
void answerWithin(DeviceState& state, uint32_t ms);
// The device has `ms` more than it had (an operation's own pause before
// reading).
void answerLater(DeviceState& state, uint32_t ms);
// All the time given to devices to answer so far, in this process: what
// fixed pauses before reading would have cost (for measurements).
uint64_t answerTimeGivenMs();
// The time the device is given to answer a request frame: 10 ms, more for
// the commands whose answers take longer (a profile day 500 ms).
int requestPauseMs(const uint8_t* frame, size_t length);
// The bytes of a request, without sending (the same rules; the length or a negative code).
int encodeRequest(DeviceState& state, int code, const RequestArgs& args, uint8_t* frame, int* pauseMs);

// Assembles one answer frame in the channel's receive buffer: its length,
// -1 when no complete frame came, -2 for a checksum mismatch. It returns as
// soon as the frame is whole. Until the request's deadline a quiet line is
// waited through; after it the frame may have `maxGaps` empty polls of 3 ms
// in all. Frames that follow the first (blocks of one answer) have what is
// left of the same deadline.
inline constexpr int kDeviceLinkGaps = 4;
int receiveFrame(Channel& channel, DeviceState& state, int maxGaps = kDeviceLinkGaps);
int receiveFrame(DevLink& link, DeviceState& state);

// Receives and decodes one answer for the link's own state: 0, or a failure
// code (-10001, -10002, -1, -2, -3, or 0xCC00.. for a malformed answer).
int receiveResponse(DevLink& link);
// Decodes an answer frame already in `frame` (length `length`) into `state`.
int decodeResponse(DeviceState& state, const uint8_t* frame, int length);

}  // namespace qs
