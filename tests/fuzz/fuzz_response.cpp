// Arbitrary bytes as the device's answer to each request the program makes:
// the receiver and every decoder must hold, whatever comes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "channel/channel.h"
#include "devlink/device_state.h"
#include "devlink/frames.h"
#include "platform/time.h"

#include "bytes_channel.h"

namespace {

const int kCodes[] = {0x5F, 0x6C, 0x6F, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
                      0x7B, 0x7F, 0x80, 0x81, 0x84, 0x85, 0x86, 0x98, 0x99, 0xA0, 0xA2, 0xA3, 0xA4, 0xA5};

using qs::fuzz::BytesChannel;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qs::platform::ClockOverride noPauses{[](uint32_t) {}, [] { return 0u; }};
  qs::platform::setClockOverride(&noPauses);
  if (size < 3) return 0;
  qs::DeviceState state;
  qs::ProfileRecord record;
  record.sequence = data[1] & 0x3F;
  state.profileTarget = &record;
  state.address = 0x21;
  state.command = static_cast<uint8_t>(kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])]);
  state.registerId = data[2];
  state.registerSize = data[2] % 6;
  state.quantityMask = (data[1] << 8) | data[2];
  state.averagingCount = data[1] % 3;
  state.sentLength = 6;
  data += 3;
  size -= 3;

  // Through the receiver, as bytes arrive on the line.
  BytesChannel channel(data, size);
  int length = qs::receiveFrame(channel, state);
  if (length > 0) qs::decodeResponse(state, state.frame, length);

  // Straight into the decoder, with a well-formed header around the bytes.
  uint8_t frame[300] = {};
  size_t payload = size > 255 ? 255 : size;
  frame[0] = 0x5B;
  frame[1] = state.command;
  frame[2] = 0x21;
  frame[3] = static_cast<uint8_t>(payload);
  std::memcpy(frame + 4, data, payload);
  qs::decodeResponse(state, frame, static_cast<int>(payload) + 6);
  return 0;
}
