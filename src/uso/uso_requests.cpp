// The telemechanics controller's requests and replies: the device-link frame
// with a command set, pauses, gap tolerance and decoding of their own.
#include <cmath>
#include <cstring>

#include "channel/channel.h"
#include "devlink/frames.h"
#include "platform/time.h"
#include "uso/uso_screen.h"

namespace qs {

void toBigEndian(uint64_t value, uint8_t* destination, int n) {
  int bytes = ((n - 1) % 8 + 8) % 8 + 1;
  for (int i = 0; i < bytes; ++i) destination[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

uint64_t fromBigEndian(const uint8_t* source, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | source[i];
  return v;
}

int isDecimalText(const char* text) {
  for (const char* p = text; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return -1;
  return 0;
}

namespace {

// Encodes the payload of `code` at `p`; its length, or -1 / -2.
int encodePayload(DeviceState& s, int code, uint32_t a1, uint32_t a2, const std::string* text, uint8_t* p,
                  int* pause) {
  int n = 0;
  auto u8 = [&](uint32_t v) { p[n++] = static_cast<uint8_t>(v); };
  auto u16 = [&](uint32_t v) {
    toBigEndian(v, p + n, 2);
    n += 2;
  };
  auto tiMask = [&] {
    int bytes = s.tiMaskBytes < 1 ? 1 : (s.tiMaskBytes > 4 ? 4 : s.tiMaskBytes);
    toBigEndian(a1, p + n, bytes);
    n += bytes;
    s.tiMask = a1;
    *pause = 10 * bytes + 20;
  };
  *pause = 1;
  switch (code) {
    case 0x3F:
      u8(0x03);
      break;
    case 0x40: case 0x41: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47:
    case 0x53: case 0x55: case 0x59: case 0x5C: case 0x5F: case 0x60: case 0x65: case 0x67: case 0x69:
      break;
    case 0x48:
    case 0x5A:
      tiMask();
      break;
    case 0x49: {
      std::string t = text != nullptr ? *text : std::string();
      if (t.size() > 6) return -2;
      t.insert(0, 6 - t.size(), '0');
      for (char c : t) u8(static_cast<uint8_t>(c));
      break;
    }
    case 0x4A:
      u8(a1);
      u8(a2);
      break;
    case 0x4C: {
      uint16_t mask = static_cast<uint16_t>(a1);
      u16(mask);
      u16(mask);
      for (int bit = 0; bit < 16 && (mask >> bit) != 0; ++bit)
        if (mask & (1u << bit)) u8(s.fillByte);
      break;
    }
    case 0x51:
      u8(0xFF);
      for (uint16_t v : s.valuesS) u16(v);
      break;
    case 0x52:
      u8(0xFF);
      u8(0xFF);
      for (uint16_t v : s.valuesE) u16(v);
      break;
    case 0x56:
      toBigEndian(a1, p + n, 4);
      n += 4;
      *pause = 100;
      break;
    case 0x57:
      *pause = 100;
      break;
    case 0x66:
      u16(s.valueG);
      break;
    case 0x68:
      // Tenths of a second, truncated toward zero, low 15 bits.
      u16(static_cast<uint32_t>(std::fabs(s.valueI * 10) < 1e15 ? static_cast<int64_t>(s.valueI * 10) : 0) & 0x7FFF);
      break;
    case 0x6A:
      u8(a1);
      u16(a2);
      s.dacValues[a1 & 7] = static_cast<uint16_t>(a2);
      *pause = 100;
      break;
    case 0x6B:
      u8(a1);
      s.dacMask = static_cast<uint8_t>(a1);
      for (int c = 0; c < 8; ++c) {
        if (!(a1 & (1u << c))) continue;
        u16(a2);
        s.dacValues[c] = static_cast<uint16_t>(a2);
      }
      break;
    case 0x6F:
      u16(a1);
      u8(a2);
      *pause = 10;
      break;
    default:
      return -1;
  }
  return n;
}

int send(UsoScreen& u, DeviceState& s, int code, uint32_t a1, uint32_t a2, const std::string* text) {
  s.sentLength = 0;
  s.command = static_cast<uint8_t>(code);
  uint8_t* f = u.txFrame;
  f[0] = kFrameStart;
  f[1] = static_cast<uint8_t>(code);
  f[2] = s.address;
  int pause = 1;
  int n = encodePayload(s, code, a1, a2, text, f + 4, &pause);
  if (n < 0) return n;
  f[3] = static_cast<uint8_t>(n);
  uint16_t sum = frameChecksum(f + 1, static_cast<size_t>(3 + n));
  f[4 + n] = static_cast<uint8_t>(sum >> 8);
  f[5 + n] = static_cast<uint8_t>(sum & 0xFF);
  u.channel->write(f, n + 6, 0);
  answerWithin(s, static_cast<uint32_t>(pause));
  s.sentLength = n + 6;
  return n + 6;
}

// Values for the set bits of `mask`, bit 0 upward, one u16 each from `p`,
// as far as the reply's `available` bytes reach.
void maskedValues(uint32_t mask, int bits, const uint8_t* p, int available, uint16_t* out) {
  int at = 0;
  for (int bit = 0; bit < bits && (static_cast<uint64_t>(mask) >> bit) != 0; ++bit) {
    if (!(mask & (1u << bit))) continue;
    if (at + 2 > available) return;  // a short reply keeps the older values
    out[bit] = static_cast<uint16_t>(fromBigEndian(p + at, 2));
    at += 2;
  }
}

}  // namespace

int UsoScreen::sendRequest(DeviceState& s, int code, uint32_t a1, uint32_t a2) {
  return send(*this, s, code, a1, a2, nullptr);
}

int UsoScreen::sendText(DeviceState& s, int code, const std::string& text) {
  return send(*this, s, code, 0, 0, &text);
}

int UsoScreen::receiveFrame(DeviceState& s) {
  if (channel->rxBufferSize == 0 || !channel->rxBuffer) return -1;
  return qs::receiveFrame(*channel, s, kTelemechanicsGaps);
}

int UsoScreen::receiveResponse(DeviceState& s) {
  s.status = kNak;
  receiveFrame(s);
  const uint8_t* buf = channel->rxBuffer.get();
  if (s.command == 0x4A && buf != nullptr && buf[3] == kAck) {
    s.status = kAck;
    return 0;
  }
  if (s.sentLength == 0 || s.receivedLength == 0) return -1;
  const uint8_t* p = s.frame + 4;
  const int L = s.frame[3];
  switch (s.responseCommand) {
    case 0x3F:
      if (L < 5) return -1;
      s.halfValue = static_cast<float>(static_cast<int16_t>(fromBigEndian(p + 1, 2)) * 0.5);
      s.outsideTemperature = static_cast<float>(static_cast<int16_t>(fromBigEndian(p + 3, 2)) * 0.5);
      break;
    case 0x40: case 0x41: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47: case 0x48: case 0x49:
    case 0x4A: case 0x4C: case 0x51: case 0x52: case 0x66: case 0x68: case 0x6A: case 0x6B:
      if (L < 1) return -1;
      s.status = p[0];
      if (p[0] == kNak) platform::sleepMs(500);
      return 0;
    case 0x53:
      if (L < 16) return -1;
      for (int i = 0; i < 8; ++i) s.valuesS[i] = static_cast<uint16_t>(fromBigEndian(p + 2 * i, 2));
      break;
    case 0x55:
    case 0x56:
      if (L < 4) return -1;
      s.counterMask = static_cast<uint32_t>(fromBigEndian(p, 4));
      maskedValues(s.counterMask, 32, p + 4, L - 4, s.counterValues);
      break;
    case 0x57: {
      int w = L == 6 ? 2 : 4;
      if (L < 3 * w) return -1;
      s.tsCurrent = static_cast<uint32_t>(fromBigEndian(p, w));
      s.tsLatch0 = static_cast<uint32_t>(fromBigEndian(p + w, w));
      s.tsLatch1 = static_cast<uint32_t>(fromBigEndian(p + 2 * w, w));
      break;
    }
    case 0x59:
    case 0x5A: {
      int bytes = s.tiMaskBytes < 1 ? 1 : (s.tiMaskBytes > 4 ? 4 : s.tiMaskBytes);
      if (L < bytes) return -1;
      s.tiMask = static_cast<uint32_t>(fromBigEndian(p, bytes));
      maskedValues(s.tiMask, 8 * bytes, p + bytes, L - bytes, s.tiValues);
      break;
    }
    case 0x5C: {
      int bytes = s.tiMaskBytes < 1 ? 1 : (s.tiMaskBytes > 4 ? 4 : s.tiMaskBytes);
      if (L < bytes) return -1;
      s.tiSelection = static_cast<uint32_t>(fromBigEndian(p, bytes));
      break;
    }
    case 0x5F:
      if (L != 6) return -3;
      break;
    case 0x60:
      if (L == 2) {
        if (p[0] != s.address) return -4;
        s.addressExtra = p[1];
      } else {
        if (L < 1) return -1;
        s.addressExtra = p[0];
      }
      break;
    case 0x65: {
      // Sixteen times when the reply carries them all, else the first eight.
      int count = L >= 32 ? 16 : 8;
      if (L < 16) return -1;
      for (int i = 0; i < count; ++i) s.valuesE[i] = static_cast<uint16_t>(fromBigEndian(p + 2 * i, 2));
      break;
    }
    case 0x67:
      if (L < 2) return -1;
      s.valueG = static_cast<uint16_t>(fromBigEndian(p, 2));
      break;
    case 0x69:
      if (L < 2) return -1;
      s.valueI = (fromBigEndian(p, 2) & 0x7FFF) * 0.1;
      break;
    case 0x6F:
      if (L > 2) std::memcpy(s.textBuffer.data(), p + 2, static_cast<size_t>(L - 2));
      break;
    default:
      return -2;
  }
  s.status = kAck;
  return 0;
}

bool UsoScreen::exchange(int code, uint32_t a1, uint32_t a2) {
  sendRequest(*state, code, a1, a2);
  receiveResponse(*state);
  return state->status == kAck;
}

}  // namespace qs
