#include "devlink/frames.h"

#include <atomic>

#include <cstdio>
#include <cstring>

#include "channel/channel.h"
#include "console/bytes.h"
#include "devlink/dev_link.h"
#include "devlink/local_time.h"
#include "platform/time.h"

namespace qs {
namespace {

constexpr int kPollPauseMs = 3;

uint32_t bigEndian(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

uint32_t littleEndian(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A malformed answer of `command`: the command in the high byte.
int malformed(uint8_t command, int detail = 0) { return (command << 8) | detail; }

int acknowledgement(DeviceState& s, const uint8_t* p, int length) {
  if (length < 1) return malformed(s.command);
  s.status = p[0];
  if (p[0] == kNak) {
    platform::sleepMs(500);
    return -3;
  }
  return 0;
}

void copyText(DeviceState& s, const uint8_t* p, int length) {
  if (length < 0) length = 0;
  std::memcpy(s.textBuffer.data(), p, static_cast<size_t>(length));
  s.textBuffer[static_cast<size_t>(length)] = '\0';
}

// The sixteen quantities of 0x76, selected by quantityMask from bit 15 down;
// the first clear bit ends the decoding of all later ones.
int decodeQuantities(DeviceState& s, const uint8_t* p, int length, int frameLength) {
  int mask = s.quantityMask;
  int at = 0;
  int q = 0;
  auto take = [&](int bytes) -> bool {
    if (!(mask & 0x8000)) return true;
    if (at + 1 + bytes > length) return false;
    s.results[q] = bigEndian(p + at + 1, bytes);  // a tag byte, then the value
    at += 1 + bytes;
    mask = (mask << 1) & 0xFFFF;
    return true;
  };
  int energyBytes = frameLength > 64 ? 4 : 2;
  for (q = 0; q < 9; ++q)
    if (!take(energyBytes)) return malformed(0x76);
  for (q = 9; q < 15; ++q)
    if (!take(3)) return malformed(0x76);
  q = 15;
  if (!take(2)) return malformed(0x76);
  return 0;
}

int decodeProfileBlock(DeviceState& s, const uint8_t* p, int length) {
  ProfileRecord* rec = s.profileTarget;
  if (length < 1) return -1;
  if (rec == nullptr) return malformed(0xA4, 1);
  uint8_t flag = p[0];
  if ((flag & 0x3F) != rec->sequence) return -2;
  int at;
  if (flag == 0x80) {  // end block
    if (length < 7) return malformed(0xA4);
    rec->time = fromBcdTime(p + 1);
    rec->blockStatus = kNak;
    return 0;
  }
  if (flag == 0x00 || flag == 0x40) {  // first block: time and slot mask
    int maskBytes = flag == 0x00 ? 6 : 7;
    if (length < 7 + maskBytes) return malformed(0xA4);
    rec->time = fromBcdTime(p + 1);
    rec->blockStatus = kAck;
    uint64_t mask = 0;
    for (int i = 0; i < maskBytes; ++i) mask = (mask << 8) | p[7 + i];
    rec->slotMask = mask;
    uint64_t low50 = mask & ((uint64_t{1} << kProfileSlots) - 1);
    int bits = 0;
    for (; low50 != 0; low50 &= low50 - 1) ++bits;
    rec->expectedEntries = bits;
    ++rec->sequence;
    at = 7 + maskBytes;
  } else if (flag >= 0x01 && flag <= 0x3F) {  // continuation block
    ++rec->sequence;
    at = 1;
  } else {
    return -2;
  }
  if (at >= length) return 0;
  rec->blockStatus = kAck;
  for (; length - at >= 17; at += 17) {
    int slot = p[at];
    if (slot < 1 || slot > kProfileSlots) continue;
    ProfileEntry& e = rec->entries[slot - 1];
    bool again = e.present != 0;  // a slot sent twice replaces its values
    for (int j = 0; j < 4; ++j) {
      double v = static_cast<int32_t>(bigEndian(p + at + 1 + 4 * j, 4)) * 0.1;
      if (again) rec->sums[j] -= e.values[j];
      e.values[j] = v;
      rec->sums[j] += v;
    }
    if (!again) {
      e.present = 1;
      ++rec->receivedEntries;
    }
  }
  return 0;
}

}  // namespace

uint16_t frameChecksum(const uint8_t* bytes, size_t count) {
  uint16_t reg = 0;
  for (size_t i = 0; i < count; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      bool top = (reg & 0x8000) != 0;
      reg = static_cast<uint16_t>((reg << 1) | ((bytes[i] >> bit) & 1));
      if (top) reg ^= 0x1021;
    }
  }
  return reg;
}

int requestPauseMs(const uint8_t* f, size_t length) {
  if (length < 6) return 10;
  int n = f[3];
  const uint8_t* p = f + 4;
  switch (f[1]) {
    case 0x5F: case 0x70: case 0x81: case 0x86:
      return 30;
    case 0x79: case 0xA2: case 0xA3:
      return 100;
    case 0x6C:  // the address, then the bytes to write
      return (n > 2 ? n - 2 : 0) / 5 + 10;
    case 0x6F:  // the address and the count of bytes to read
      return (n >= 3 ? p[2] : 0) / 5 + 10;
    case 0x77: case 0x7B:
      return 50;
    case 0xA4:
      return 500;
    default:
      return 10;
  }
}

int encodeRequest(DeviceState& s, int code, const RequestArgs& a, uint8_t* f, int* pauseMs) {
  s.sentLength = 0;
  s.command = static_cast<uint8_t>(code & 0xFF);
  f[0] = kFrameStart;
  f[1] = s.command;
  f[2] = s.address;
  uint8_t* p = f + 4;
  int n = 0;
  auto u8 = [&](uint32_t v) { p[n++] = static_cast<uint8_t>(v & 0xFF); };
  auto u16 = [&](uint32_t v) {
    u8(v >> 8);
    u8(v);
  };
  auto localDate = [&](const std::tm& t) {
    u8(toBcd(t.tm_year + 1900 - 2000));
    u8(toBcd(t.tm_mon + 1));
    u8(toBcd(t.tm_mday));
  };
  switch (code) {
    case 0x71: case 0x74: case 0x75: case 0x85: case 0xA5:
      break;
    case 0x5F: case 0x70: case 0x81: case 0x86: case 0x79: case 0xA2: case 0xA3:
      break;
    case 0x7A: case 0xA0:
      u8(a.a1);
      break;
    case 0x6C:
      if (a.a2 > 16) return -108;
      u16(a.a1);
      for (uint32_t i = 0; i < a.a2; ++i) u8(a.data != nullptr ? a.data[i] : 0);
      break;
    case 0x6F:
      u16(a.a1);
      u8(a.a2);
      break;
    case 0x72:
      u8(a.a1);
      s.registerId = static_cast<uint8_t>(a.a1);
      s.registerSize = static_cast<int>(a.a2);
      break;
    case 0x73: {
      u8(a.a1);
      u8(a.a4);
      int bytes = a.a2 > 4 ? 4 : static_cast<int>(a.a2);
      for (int i = bytes - 1; i >= 0; --i) u8(a.a3 >> (8 * i));
      s.registerId = static_cast<uint8_t>(a.a1);
      s.registerSize = static_cast<int>(a.a2);
      break;
    }
    case 0x76:
      u16(a.a1);
      s.quantityMask = static_cast<int>(a.a1 & 0xFFFF);
      break;
    case 0x77:
      u16(a.a1);
      u8(a.a2);
      break;
    case 0x78: {
      u16(a.a1);
      float f32 = static_cast<float>(a.value);
      uint32_t bits;
      std::memcpy(&bits, &f32, 4);
      for (int i = 0; i < 4; ++i) u8(bits >> (8 * i));
      s.results[0] = bits;
      break;
    }
    case kSerialByNumberCode:  // the serial number first, then as 0x7B
      u8(a.a3 >> 16);
      u8(a.a3 >> 8);
      u8(a.a3);
      [[fallthrough]];
    case 0x7B:
      u8(a.a1);
      u8(a.a2);
      s.pendingAddress = static_cast<uint8_t>(a.a1);
      s.pendingAddressExtra = static_cast<uint8_t>(a.a2);
      break;
    case 0x7F:
      u8(s.address);
      u8(0x55);
      u8(0xAA);
      break;
    case 0x80: {
      std::tm t = localTime(a.a1);
      localDate(t);
      u8(toBcd(t.tm_hour));
      u8(toBcd(t.tm_min));
      u8(toBcd(t.tm_sec));
      s.timeValue = a.a1;
      break;
    }
    case 0x84:
      u8(a.a1);
      if ((a.a2 & 0xFF) == 0x10) u8(a.a2);
      s.averagingCount = static_cast<int>(a.a1 & 0xFF);
      break;
    case 0xA4: {
      std::tm t = localTime(a.a1);
      localDate(t);
      u8(a.a3);
      u8(a.a4);
      u8(toBcd(t.tm_sec));
      u8(a.a2);
      s.timeValue = a.a1;
      break;
    }
    default:
      return -1;
  }
  f[3] = static_cast<uint8_t>(n);
  uint16_t sum = frameChecksum(f + 1, static_cast<size_t>(3 + n));
  f[4 + n] = static_cast<uint8_t>(sum >> 8);
  f[5 + n] = static_cast<uint8_t>(sum & 0xFF);
  if (pauseMs != nullptr) *pauseMs = requestPauseMs(f, static_cast<size_t>(n + 6));
  return n + 6;
}

int sendRequest(DevLink& link, DeviceState* state, int code, const RequestArgs& args) {
  DeviceState& s = state != nullptr ? *state : *link.state;
  uint8_t frame[300];
  int pause = 0;
  int length = encodeRequest(s, code, args, frame, &pause);
  if (length < 0) return length;
  link.channel->write(frame, length, 0);
  answerWithin(s, static_cast<uint32_t>(pause));
  s.sentLength = length;
  return length;
}

namespace {
std::atomic<uint64_t> gAnswerTimeGiven{0};
}  // namespace

void answerWithin(DeviceState& s, uint32_t ms) {
  s.sentAt = platform::tickCount();
  s.answerDue = s.sentAt + ms;
  s.answerDueSet = true;
  gAnswerTimeGiven += ms;
}

void answerLater(DeviceState& s, uint32_t ms) {
  if (!s.answerDueSet) {
    answerWithin(s, ms);
    return;
  }
  s.answerDue += ms;
  gAnswerTimeGiven += ms;
}

uint64_t answerTimeGivenMs() { return gAnswerTimeGiven; }

int receiveFrame(Channel& channel, DeviceState& s, int maxGaps) {
  s.responseCommand = 0xFF;
  s.receivedLength = 0;
  uint8_t* buf = channel.rxBuffer.get();
  const int size = channel.rxBufferSize;
  if (buf == nullptr) return -1;
  std::memset(buf, 0, size);
  int index = 0, expected = 0, instantWaits = 0, quietPolls = 0;
  const uint32_t entered = platform::tickCount();
  // Polls that may be spent waiting for the deadline: far more than its
  // time takes, unless the clock stands still.
  int32_t dueLeft = s.answerDueSet ? static_cast<int32_t>(s.answerDue - entered) : 0;
  int dueBudget = dueLeft > 0 ? 4 * dueLeft + 8 : 0;
  bool started = false;
  // No answer can be in before the request and the shortest frame have
  // crossed the line: that much is let pass without polling.
  if (s.answerDueSet && channel.byteMicros() > 0) {
    uint32_t wire = (static_cast<uint32_t>(s.sentLength + 6) * channel.byteMicros() + 999) / 1000;
    int32_t early = static_cast<int32_t>(s.sentAt + wire - entered);
    if (early > 0) channel.letBytesArrive(static_cast<uint32_t>(early));
  }
  while (index < size) {
    // Byte by byte up to the length; then the rest of the frame as it comes
    // (never past its end: the next frame's bytes stay in the line).
    int want = started && expected != 0 ? expected - index : 1;
    if (want > size - index) want = size - index;
    unsigned count = 0;
    channel.read(buf + index, want, &count);
    uint32_t now = platform::tickCount();
    if (count == 0) {
      // Within the device's time a quiet line is only waited through; after
      // it the line may stay quiet `maxGaps` polls of 3 ms at a stretch.
      // (The time is also counted in polls, so a clock that stands still
      // cannot hold the receiver.)
      int32_t left = s.answerDueSet ? static_cast<int32_t>(s.answerDue - now) : 0;
      if (left > 0 && dueBudget > 0) {
        --dueBudget;
        channel.waitInput(left < kPollPauseMs ? static_cast<uint32_t>(left) : kPollPauseMs);
      } else {
        if (quietPolls >= maxGaps) return -1;
        ++quietPolls;
        channel.waitInput(kPollPauseMs);  // ends early when a byte arrives
      }
      // (A line that says it has input and gives none is not polled in a
      // busy loop.)
      if (platform::tickCount() == now && ++instantWaits > 3) {
        platform::sleepMs(1);
        instantWaits = 0;
      }
      continue;
    }
    quietPolls = 0;
    instantWaits = 0;
    if (want > 1 || (started && expected != 0)) {
      index += static_cast<int>(count);
      // The rest of the frame is on its way at the line's pace: it is let
      // come rather than woken for byte by byte.
      uint32_t rest = (static_cast<uint32_t>(expected - index) * channel.byteMicros() + 999) / 1000;
      if (index < expected && rest > 0) channel.letBytesArrive(rest < 20 ? rest : 20);
    } else {
      uint8_t b = buf[index];
      if (!started) {
        if (b == kFrameStart) {
          buf[0] = kFrameStart;
          index = 1;
          started = true;
        } else {
          ++index;  // noise before a frame uses up buffer space
          continue;
        }
      } else if (index == 1 && b != s.command) {
        started = false;
        continue;
      } else if (index == 2 && b != s.address) {
        started = false;
        continue;
      } else {
        if (index == 3) expected = b + 6;
        ++index;
      }
    }
    if (index < size) buf[index] = 0;
    if (expected != 0 && index == expected) {
      uint16_t sum = frameChecksum(buf + 1, static_cast<size_t>(expected - 3));
      if (sum != buf[expected - 2] * 256 + buf[expected - 1]) return -2;
      platform::sleepMs(10);
      s.frame = buf;
      s.responseCommand = s.command;
      s.receivedLength = expected;
      return expected;
    }
  }
  return -1;
}

int receiveFrame(DevLink& link, DeviceState& state) { return receiveFrame(*link.channel, state); }

int decodeResponse(DeviceState& s, const uint8_t* frame, int frameLength) {
  const uint8_t* p = frame + 4;
  const int L = frame[3];
  switch (s.command) {
    case 0x6C: case 0x75: case 0x78: case 0x7A: case 0x80: case 0x85: case 0xA0: case 0xA5:
      return acknowledgement(s, p, L);
    case 0x74:
      s.command = 0x99;  // a 0x99 frame follows
      return acknowledgement(s, p, L);
    case 0x84:
      s.command = 0x98;  // a 0x98 frame follows
      return acknowledgement(s, p, L);
    case 0x5F: {
      copyText(s, p, L);
      for (int i = L + 1; i < 6; ++i) s.textBuffer[static_cast<size_t>(i)] = '\0';
      bool digits = true;
      for (int i = 0; i < 6; ++i)
        if (s.textBuffer[static_cast<size_t>(i)] < '0' || s.textBuffer[static_cast<size_t>(i)] > '9') digits = false;
      if (!digits) {
        const uint8_t* t = reinterpret_cast<const uint8_t*>(s.textBuffer.data());
        std::snprintf(s.textBuffer.data(), 7, "%06x", static_cast<unsigned>(bigEndian(t + 3, 3)));
      }
      break;
    }
    case 0x6F:
      // Two bytes echo the address; an answer shorter than that holds no data.
      copyText(s, p + 2, L - 2);
      s.textLength = L >= 2 ? L - 2 : 0;
      break;
    case 0x70:
      if (L != 3) return 0x7000;
      s.serialNumber = bigEndian(p, 3);
      std::snprintf(s.serialText, sizeof s.serialText, "%06X", static_cast<unsigned>(s.serialNumber));
      break;
    case 0x71:
      if (L == 2) {
        if (p[0] != s.address) return 0x7100;
        s.addressExtra = p[1];
      } else {
        if (L < 1) return malformed(0x71, 1);
        s.addressExtra = p[0];
      }
      break;
    case 0x72:
      if (L != s.registerSize + 1) return 0x7200;
      if (p[0] != s.registerId) return 0x7201;
      s.results[0] = bigEndian(p + 1, s.registerSize > 4 ? 4 : s.registerSize);
      break;
    case 0x73:
      if (L != 1) return 0x7300;
      if (p[0] != s.registerId) return 0x7301;
      break;
    case 0x76: {
      int r = decodeQuantities(s, p, L, frameLength);
      if (r != 0) return r;
      break;
    }
    case 0x77:
      if (L < 4) return malformed(0x77);
      s.results[0] = littleEndian(p, 4);
      copyText(s, p, L);
      break;
    case 0x79:
      if (L != 1) return 0x7900;
      s.deviceType = p[0];
      break;
    case 0x7B:
      if (L != 2) return 0x7B00;
      if (p[0] != s.pendingAddress) return 0x7B01;
      if (p[1] != s.pendingAddressExtra) return 0x7B02;
      s.address = s.pendingAddress;
      s.addressExtra = s.pendingAddressExtra;
      break;
    case 0x7F:
      if (L == 1) {
        if (p[0] != kAck) return -1;
        s.results[0] = s.results[1] = 6;
      } else {
        if (L < 4) return malformed(0x7F);
        s.results[0] = bigEndian(p, 2);
        s.results[1] = bigEndian(p + 2, 2);
      }
      break;
    case 0x81:
      if (L < 6) return malformed(0x81);
      s.timeValue = fromBcdTime(p);
      break;
    case 0x86:
      if (L < 48) return malformed(0x86);
      for (int i = 0; i < 16; ++i) s.results[i] = bigEndian(p + 3 * i, 3);
      break;
    case 0x98:
      for (auto& r : s.results) r = 0;
      if (L > 12) {
        if (L < 48) return malformed(0x98);
        for (int i = 0; i < 6; ++i) {
          uint32_t divisor = bigEndian(p + 24 + 4 * i, 4);
          if (divisor != 0) s.results[9 + i] = bigEndian(p + 4 * i, 4) / divisor;
        }
      } else {
        if (L < 12) return malformed(0x98);
        for (int i = 0; i < 3; ++i) {
          uint32_t v = bigEndian(p + 4 * i, 4);
          s.results[9 + i] = s.averagingCount > 0 ? v / static_cast<uint32_t>(s.averagingCount) : v;
        }
      }
      break;
    case 0x99:
      if (L < 9 * 2 + 6 * 3 + 2) return malformed(0x99);
      for (int i = 0; i < 9; ++i) s.results[i] = bigEndian(p + 2 * i, 2);
      for (int i = 0; i < 6; ++i) s.results[9 + i] = bigEndian(p + 18 + 3 * i, 3);
      s.results[15] = bigEndian(p + 36, 2);
      break;
    case 0xA2:
    case 0xA3: {
      int from = s.command == 0xA2 ? 0 : 6;
      if (L < from + 24) return malformed(s.command);
      if (s.profileTarget == nullptr) return malformed(s.command, 1);
      for (int i = 0; i < 4; ++i) {
        const uint8_t* v = p + from + 6 * i;
        uint64_t value = (uint64_t{bigEndian(v, 2)} << 32) | bigEndian(v + 2, 4);
        s.profileTarget->sums[i] = static_cast<double>(value);
      }
      break;
    }
    case 0xA4:
      return decodeProfileBlock(s, p, L);
    default:
      return -2;
  }
  s.status = kAck;
  return 0;
}

int receiveResponse(DevLink& link) {
  DeviceState& s = *link.state;
  s.status = kNak;
  // No request went out (or its encoding failed): there is no answer to wait for.
  if (s.sentLength == 0) return -1;
  int r = receiveFrame(*link.channel, s);
  if (r < 0) return r - 10000;
  if (s.receivedLength == 0) return -2;
  if (s.responseCommand != s.command) {
    platform::sleepMs(1);
    return -3;
  }
  return decodeResponse(s, s.frame, s.receivedLength);
}

}  // namespace qs
