#include "sim/device_sim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/bytes.h"
#include "devlink/frames.h"
#include "devlink/local_time.h"

namespace qs::sim {
namespace {

constexpr uint8_t kAckByte = 0x06;
constexpr int kEntriesPerBlock = 14;  // 17-byte entries that fit a 255-byte payload
constexpr int kSlotsPerDay = 48;

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}
void put24(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 16));
  put16(v, x);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x >> 16);
  put16(v, x);
}
void put48(std::vector<uint8_t>& v, uint64_t x) {
  put16(v, static_cast<uint32_t>(x >> 32));
  put32(v, static_cast<uint32_t>(x));
}
void putBcdTime(std::vector<uint8_t>& v, int64_t t) {
  std::tm tm = localTime(t);
  v.push_back(toBcd(tm.tm_year + 1900 - 2000));
  v.push_back(toBcd(tm.tm_mon + 1));
  v.push_back(toBcd(tm.tm_mday));
  v.push_back(toBcd(tm.tm_hour));
  v.push_back(toBcd(tm.tm_min));
  v.push_back(toBcd(tm.tm_sec));
}
int64_t midnightOf(int64_t t) {
  std::tm tm = localTime(t);
  return fromLocalTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, 0, 0);
}
// Size in bytes of a metering-chip register, by its number.
int registerSize(uint8_t reg) {
  if (reg >= 0x01 && reg <= 0x09) return 2;  // energies
  if (reg >= 0x0A && reg <= 0x0F) return 3;  // RMS values
  if (reg == 0x10) return 2;                 // frequency
  return 1;
}

}  // namespace

std::vector<uint8_t> makeFrame(uint8_t command, uint8_t address, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f;
  f.reserve(payload.size() + 6);
  f.push_back(0x5B);
  f.push_back(command);
  f.push_back(address);
  f.push_back(static_cast<uint8_t>(payload.size()));
  for (uint8_t b : payload) f.push_back(b);
  uint16_t sum = frameChecksum(f.data() + 1, f.size() - 1);
  f.push_back(static_cast<uint8_t>(sum >> 8));
  f.push_back(static_cast<uint8_t>(sum & 0xFF));
  return f;
}

SimDevice SimDevice::make(uint8_t address, uint32_t serial) {
  SimDevice d;
  d.address = address;
  d.serial = serial & 0xFFFFFF;
  d.setRatio(52, 1);
  d.setRatio(60, 20);
  const uint8_t modules[4] = {0x01, 0x03, 0x02, 0xFF};
  std::memcpy(&d.eeprom[0x20], modules, 4);
  std::memcpy(&d.eeprom[0x740], "YCOTM", 5);
  std::memcpy(&d.words[28], d.version.data(), 4);
  for (int i = 0; i < 16; ++i) d.setCoefficient(i, 1.0f);
  d.setCoefficient(15, 0.024f);
  unsigned v = serial % 7;
  const uint32_t raw[16] = {12345 + v * 10, 0, 2345, 0, 12567, 500, 5012 + v, 4987, 5003,
                            2205, 2198 + v, 2211, 253, 0, 0, 0};
  std::memcpy(d.currentRaw, raw, sizeof raw);
  const uint64_t start[4] = {12345678ull + v * 1000, 1234ull, 2345678ull, 345ull};
  const uint64_t month[4] = {456789ull + v * 100, 12ull, 98765ull, 3ull};
  std::memcpy(d.totalsSinceStart, start, sizeof start);
  std::memcpy(d.totalsThisMonth, month, sizeof month);
  for (int c = 0; c < 32; ++c) d.tiRaw[c] = static_cast<int16_t>(400 * (c % 8 + 1) + static_cast<int>(v));
  d.tiRaw[7] = -100;
  d.tsCurrent = 0x05;
  for (int i = 0; i < 8; ++i) d.analysisTimes[i] = static_cast<uint16_t>(10 * (i + 1));
  for (int i = 0; i < 16; ++i) d.debounceTimes[i] = static_cast<uint16_t>(20 + i);
  d.polarity = 0x00F0;
  d.autoDelay = 35;
  return d;
}

void SimDevice::stepInputs() {
  ++polls;
  uint32_t next = tsCurrent;
  if (polls % 10 == 0) next ^= 1u << ((polls / 10) % 8);
  tsLatch0 |= next & ~tsCurrent;
  tsLatch1 |= tsCurrent & ~next;
  tsCurrent = next;
  // Each measurement input climbs 400 polls and falls 400, so that two
  // looks at it polls apart show different counts whatever the rate.
  for (int c = 0; c < 32; ++c) {
    int phase = (polls + c * 37) % 800;
    tiRaw[c] = static_cast<int16_t>(tiRaw[c] + (phase < 400 ? 1 : -1));
  }
}

void SimDevice::setRatio(int eepromAddress, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u", value % 10000);
  std::memcpy(&eeprom[static_cast<size_t>(eepromAddress)], text, 4);
}

void SimDevice::setCoefficient(int index, float value) { std::memcpy(&words[32 + 4 * index], &value, 4); }

float SimDevice::coefficient(int index) const {
  float f;
  std::memcpy(&f, &words[32 + 4 * index], 4);
  return f;
}

void SimDevice::profileValues(int64_t dayStart, int slot, int32_t out[4]) const {
  // A day's load curve: low at night, high by day, different per device and day.
  int hour = (slot - 1) / 2;
  int base = (hour >= 7 && hour < 22) ? 1500 : 400;
  int day = static_cast<int>((dayStart / 86400) % 97);
  int wobble = static_cast<int>((serial % 13) * 7 + day * 3 + slot * 11) % 200;
  out[0] = base + wobble;
  out[1] = (slot % 5 == 0) ? 3 : 0;
  out[2] = (base + wobble) / 4;
  out[3] = slot % 7;
}

SimLine::SimLine() : rng_(1) {}

int64_t SimDevice::clockNow() const {
  return clockStands ? clockOffset : static_cast<int64_t>(std::time(nullptr)) + clockOffset;
}

SimDevice& SimLine::add(const SimDevice& device) {
  devices_.push_back(device);
  return devices_.back();
}

SimDevice* SimLine::find(uint8_t address) {
  for (auto& d : devices_)
    if (d.address == address) return &d;
  return nullptr;
}

uint32_t SimLine::wireMs(size_t bytes) const {
  if (baud == 0) return 0;
  return static_cast<uint32_t>((bytes * 10 * 1000 + baud - 1) / baud);
}

void SimLine::setFaults(const Faults& faults) {
  faults_ = faults;
  rng_.seed(faults.seed);
}

void SimLine::receive(const uint8_t* data, size_t size, uint32_t nowMs) {
  in_.insert(in_.end(), data, data + size);
  for (;;) {
    size_t start = 0;
    while (start < in_.size() && in_[start] != 0x5B) ++start;
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(start));
    if (in_.size() < 4) return;
    size_t length = static_cast<size_t>(in_[3]) + 6;
    if (in_.size() < length) return;
    uint16_t sum = frameChecksum(in_.data() + 1, length - 3);
    if (sum != in_[length - 2] * 256 + in_[length - 1]) {
      in_.erase(in_.begin());  // not a frame: hunt for the next start byte
      continue;
    }
    std::vector<uint8_t> frame(in_.begin(), in_.begin() + static_cast<long>(length));
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(length));
    requests.push_back(frame);
    handleFrame(frame, nowMs + wireMs(length));
  }
}

size_t SimLine::take(uint8_t* out, size_t max, uint32_t nowMs) {
  size_t n = 0;
  while (n < max && !out_.empty() && static_cast<int32_t>(nowMs - out_.front().due) >= 0) {
    Pending& p = out_.front();
    size_t k = std::min(max - n, p.bytes.size());
    std::memcpy(out + n, p.bytes.data(), k);
    p.bytes.erase(p.bytes.begin(), p.bytes.begin() + static_cast<long>(k));
    n += k;
    if (p.bytes.empty()) out_.pop_front();
  }
  return n;
}

int SimLine::nextDueIn(uint32_t nowMs) const {
  if (out_.empty()) return -1;
  int32_t d = static_cast<int32_t>(out_.front().due - nowMs);
  return d < 0 ? 0 : d;
}

void SimLine::answer(SimDevice& d, uint8_t command, uint8_t address, const std::vector<uint8_t>& payload,
                     uint32_t due) {
  if (silent) return;
  if (dropAnswers.count(answersMade++) != 0) return;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (faults_.drop > 0 && chance(rng_) < faults_.drop) return;
  std::vector<uint8_t> bytes;
  if (faults_.noise > 0 && chance(rng_) < faults_.noise) {
    int count = 1 + static_cast<int>(rng_() % 5);
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(rng_()));
  }
  std::vector<uint8_t> frame = makeFrame(command, address, payload);
  if (faults_.corrupt > 0 && chance(rng_) < faults_.corrupt) {
    frame[rng_() % frame.size()] ^= static_cast<uint8_t>(1 + rng_() % 255);
  }
  if (faults_.foreignFirst) {
    std::vector<uint8_t> other = makeFrame(command, static_cast<uint8_t>(address + 1), payload);
    bytes.insert(bytes.end(), other.begin(), other.end());
  }
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  bytesAnswered += bytes.size();
  uint32_t answerAt = d.answerLate ? (requestPauseMs_ > 1 ? requestPauseMs_ - 1 : 0)
                      : d.answerMs >= 0 ? static_cast<uint32_t>(d.answerMs)
                                        : 0;
  // The first byte leaves then; answers never overtake one another.
  uint32_t start = due + answerAt + faults_.delayMs;
  if (!out_.empty() && static_cast<int32_t>(out_.back().due - start) > 0) start = out_.back().due;
  // Bytes come at the wire's pace (a few at a time), or all at once on a
  // line without one; the time the last one is in.
  auto send = [&](const uint8_t* from, size_t count, uint32_t at) {
    if (baud == 0) {
      out_.push_back(Pending{at, std::vector<uint8_t>(from, from + count)});
      return at;
    }
    uint32_t last = at;
    for (size_t sent = 0; sent < count;) {
      size_t k = std::min<size_t>(8, count - sent);
      last = at + wireMs(sent + k);
      out_.push_back(Pending{last, std::vector<uint8_t>(from + sent, from + sent + k)});
      sent += k;
    }
    return last;
  };
  if (faults_.burstGapMs > 0 && bytes.size() > 1) {
    // The first half as it comes, the rest after a gap.
    size_t half = bytes.size() / 2;
    uint32_t end = send(bytes.data(), half, start);
    send(bytes.data() + half, bytes.size() - half, end + faults_.burstGapMs);
    return;
  }
  send(bytes.data(), bytes.size(), start);
}

uint32_t requestPauseOf(const std::vector<uint8_t>& f) {
  if (f.size() < 6) return 10;
  switch (f[1]) {
    // The telemechanics requests (0x5F and 0x6F are the meter's too, with
    // the longer time).
    case 0x3F: case 0x40: case 0x41: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47: case 0x49: case 0x4A:
    case 0x4C: case 0x51: case 0x52: case 0x53: case 0x55: case 0x59: case 0x5C: case 0x60: case 0x65: case 0x66:
    case 0x67: case 0x68: case 0x69: case 0x6B:
      return 1;
    case 0x48: case 0x5A:
      return 10 * f[3] + 20;
    case 0x56: case 0x57: case 0x6A:
      return 100;
    default:
      return static_cast<uint32_t>(requestPauseMs(f.data(), f.size()));
  }
}

namespace {

std::string hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace

void SimLine::handleFrame(const std::vector<uint8_t>& frame, uint32_t nowMs) {
  requestPauseMs_ = requestPauseOf(frame);
  uint8_t command = frame[1], address = frame[2];
  const uint8_t* p = frame.data() + 4;
  int length = frame[3];
  if (address == 254 && command == 0x7B && length == 5) {  // new address for a serial number
    uint32_t serial = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    for (auto& d : devices_) {
      if (d.serial != serial) continue;
      answer(d, 0x7B, 254, {p[3], p[4]}, nowMs);
      if (onEvent) onEvent("address " + hex(d.address, 2) + " " + hex(p[3], 2));
      d.address = p[3];
      d.addressExtra = p[4];
      return;
    }
    return;
  }
  SimDevice* d = find(address);
  if (d != nullptr) answerRequest(*d, command, address, p, length, nowMs);
}

void SimLine::answerRequest(SimDevice& d, uint8_t command, uint8_t address, const uint8_t* p, int length,
                            uint32_t now) {
  std::vector<uint8_t> r;
  auto ack = [&] {
    uint8_t reply = kAckByte;
    if (d.nakAcks > 0) {
      --d.nakAcks;
      reply = 0x15;
    }
    answer(d, command, address, {reply}, now);
  };
  auto present = [&](int kind) {  // channels of a module kind (1 TS, 2 TU, 3 TI) as a bit mask
    uint32_t mask = 0;
    int next = 0;
    for (int slot = 0; slot < 4; ++slot) {
      uint8_t b = d.eeprom[0x20 + static_cast<size_t>(slot)];
      if ((b & 0xF0) > 0x60 || (b & 0x03) != kind) continue;
      for (int i = 0; i < (kind == 2 ? 3 : 8) && next < 32; ++i) mask |= 1u << next++;
    }
    return mask;
  };
  auto u16at = [&](int i) { return static_cast<uint32_t>((p[i] << 8) | p[i + 1]); };
  int64_t deviceNow = d.clockNow();
  if (!d.meterProtocol && command >= 0x6C && command != 0x6F) return;
  switch (command) {
    case 0x70:
      put24(r, d.serial);
      break;
    case 0x5F: {
      char text[16];
      std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(d.serial));
      if (std::strspn(text, "0123456789") == 6) {
        r.assign(text, text + 6);
      } else {
        r = {'S', 'N', ':'};
        put24(r, d.serial);
      }
      break;
    }
    case 0x71:
      r = {d.address, d.addressExtra};
      break;
    case 0x72:
      if (length < 1) return;
      r.push_back(p[0]);
      for (int i = registerSize(p[0]) - 1; i >= 0; --i) r.push_back(static_cast<uint8_t>(d.currentRaw[p[0] % 16] >> (8 * i)));
      break;
    case 0x73:
      if (length < 1) return;
      r.push_back(p[0]);
      break;
    case 0x74:
      ack();
      for (int i = 0; i < 9; ++i) put16(r, d.currentRaw[i] & 0xFFFF);
      for (int i = 0; i < 6; ++i) put24(r, d.currentRaw[i]);
      put16(r, d.currentRaw[5]);
      answer(d, 0x99, address, r, now);
      return;
    case 0x75: case 0x7A: case 0x85: case 0xA0: case 0xA5:
      ack();
      return;
    case 0x76: {
      if (length < 2) return;
      int mask = static_cast<int>(u16at(0));
      for (int q = 0; q < 16 && (mask & 0x8000); ++q, mask = (mask << 1) & 0xFFFF) {
        r.push_back(static_cast<uint8_t>(q));
        if (q < 9) put16(r, d.currentRaw[q] & 0xFFFF);
        else if (q < 15) put24(r, d.currentRaw[q]);
        else put16(r, d.currentRaw[5]);
      }
      break;
    }
    case 0x77: {
      if (length < 3) return;
      uint32_t at = u16at(0);
      int count = p[2];
      for (int i = 0; i < count * 4 && r.size() < 255; ++i) {
        size_t a = at + static_cast<size_t>(i);
        r.push_back(a < d.words.size() ? d.words[a] : 0);
      }
      break;
    }
    case 0x78: {
      if (length < 6) return;
      uint32_t at = u16at(0);
      for (int i = 0; i < 4; ++i)
        if (at + i < d.words.size()) d.words[at + i] = p[2 + i];
      ack();
      return;
    }
    case 0x79:
      r.push_back(typeOverride >= 0 ? static_cast<uint8_t>(typeOverride) : d.type);
      break;
    case 0x7B:
      if (length < 2) return;
      answer(d, 0x7B, address, {p[0], p[1]}, now);
      if (onEvent) onEvent("address " + hex(d.address, 2) + " " + hex(p[0], 2));
      d.address = p[0];
      d.addressExtra = p[1];
      return;
    case 0x7F: {
      ack();
      int n = d.formatTables;
      uint32_t at = now;
      for (int phase = 0; phase < 2; ++phase) {
        for (int k = 1; k <= n; ++k) {
          at += static_cast<uint32_t>(d.formatStepMs);
          std::vector<uint8_t> progress;
          put16(progress, static_cast<uint32_t>(n));
          put16(progress, static_cast<uint32_t>(k));
          answer(d, 0x7F, address, progress, at);
        }
      }
      answer(d, 0x7F, address, {kAckByte}, at + static_cast<uint32_t>(d.formatStepMs));
      return;
    }
    case 0x80:
      if (length < 6) return;
      d.clockOffset = fromBcdTime(p) - (d.clockStands ? 0 : static_cast<int64_t>(std::time(nullptr)));
      if (onEvent) onEvent("clock " + hex(d.address, 2));
      ack();
      return;
    case 0x81:
      putBcdTime(r, deviceNow);
      break;
    case 0x84: {
      if (length < 1) return;
      ack();
      uint32_t count = p[0] == 0 ? 1 : p[0];
      for (int i = 0; i < 3; ++i) put32(r, d.currentRaw[6 + i] * count);
      answer(d, 0x98, address, r, now);
      return;
    }
    case 0x86:
      for (uint32_t v : d.currentRaw) put24(r, v);
      break;
    case 0xA2:
      for (uint64_t v : d.totalsSinceStart) put48(r, v);
      break;
    case 0xA3:
      putBcdTime(r, midnightOf(deviceNow));
      for (uint64_t v : d.totalsThisMonth) put48(r, v);
      break;
    case 0xA4:
      answerProfile(d, address, p, length, now);
      return;
    case 0x6C: {
      if (length < 2) return;
      uint32_t at = u16at(0);
      for (int i = 2; i < length; ++i)
        if (at + static_cast<uint32_t>(i - 2) < d.eeprom.size()) d.eeprom[at + static_cast<uint32_t>(i - 2)] = p[i];
      if (onEvent) onEvent("eeprom " + hex(d.address, 2) + " " + hex(at, 4) + " " + std::to_string(length - 2));
      ack();
      return;
    }
    case 0x6F: {
      if (length < 3) return;
      uint32_t at = u16at(0);
      r = {p[0], p[1]};
      for (int i = 0; i < p[2] && r.size() < 255; ++i) {
        size_t a = at + static_cast<size_t>(i);
        r.push_back(a < d.eeprom.size() ? d.eeprom[a] : 0xFF);
      }
      break;
    }
    // ---- telemechanics controller ----
    case 0x3F: {
      d.stepInputs();
      r.push_back(0x03);
      put16(r, static_cast<uint16_t>(static_cast<int16_t>(d.insideTemperature * 2)));
      put16(r, static_cast<uint16_t>(static_cast<int16_t>(d.outsideTemperature * 2)));
      break;
    }
    case 0x40:
      for (uint16_t& c : d.counters) c = 0;
      ack();
      return;
    case 0x41:
      d.tsLatch0 = d.tsLatch1 = 0;
      ack();
      return;
    case 0x43: case 0x44: case 0x45: case 0x46: case 0x47: case 0x48: case 0x49:
      ack();
      return;
    case 0x4A:
      if (length < 2) return;
      ack();
      if (onEvent) onEvent("address " + hex(d.address, 2) + " " + hex(p[0], 2));
      d.address = p[0];
      d.speedCode = p[1];
      return;
    case 0x4C: {
      if (length < 4) return;
      uint16_t mask = static_cast<uint16_t>(u16at(0));
      d.tuOutputs = mask;
      d.tuOnTimes.assign(p + 4, p + length);
      if (onEvent) onEvent("tu " + hex(d.address, 2) + " " + hex(mask, 4));
      ack();
      return;
    }
    case 0x51:
      if (length < 17) return;
      for (int i = 0; i < 8; ++i) d.analysisTimes[i] = static_cast<uint16_t>(u16at(1 + 2 * i));
      ack();
      return;
    case 0x52:
      if (length < 34) return;
      for (int i = 0; i < 16; ++i) d.debounceTimes[i] = static_cast<uint16_t>(u16at(2 + 2 * i));
      ack();
      return;
    case 0x53:
      for (uint16_t t : d.analysisTimes) put16(r, t);
      break;
    case 0x55:
    case 0x56: {
      uint32_t mask = present(1);
      put32(r, mask);
      for (int i = 0; i < 32; ++i)
        if (mask & (1u << i)) put16(r, d.counters[i]);
      break;
    }
    case 0x57:
      d.stepInputs();
      put32(r, d.tsCurrent);
      put32(r, d.tsLatch0);
      put32(r, d.tsLatch1);
      break;
    case 0x59:
    case 0x5A: {
      d.stepInputs();
      uint32_t asked = command == 0x5A && length >= 4 ? (static_cast<uint32_t>(u16at(0)) << 16) | u16at(2) : ~0u;
      uint32_t mask = asked & present(3);
      put32(r, mask);
      for (int i = 0; i < 32; ++i)
        if (mask & (1u << i)) put16(r, static_cast<uint16_t>(d.tiRaw[i]));
      break;
    }
    case 0x5C:
      put32(r, d.tiSelection);
      break;
    case 0x60:
      r = {d.address, d.speedCode};
      break;
    case 0x65:
      for (uint16_t t : d.debounceTimes) put16(r, t);
      break;
    case 0x66:
      if (length < 2) return;
      d.polarity = static_cast<uint16_t>(u16at(0));
      ack();
      return;
    case 0x67:
      put16(r, d.polarity);
      break;
    case 0x68:
      if (length < 2) return;
      d.autoDelay = static_cast<uint16_t>(u16at(0) & 0x7FFF);
      ack();
      return;
    case 0x69:
      put16(r, d.autoDelay);
      break;
    case 0x6A:
      if (length < 3) return;
      d.dac[p[0] & 7] = static_cast<uint16_t>(u16at(1));
      ack();
      return;
    case 0x6B:
      ack();
      return;
    default:
      return;  // not a request of this device: no answer
  }
  answer(d, command, address, r, now);
}

void SimLine::answerProfile(SimDevice& d, uint8_t address, const uint8_t* p, int length, uint32_t now) {
  if (length < 7) return;
  int64_t day = fromLocalTime(2000 + fromBcd(p[0]), fromBcd(p[1]), fromBcd(p[2]), 0, 0, 0);
  int64_t deviceNow = d.clockNow();
  int64_t today = midnightOf(deviceNow);
  int slots = 0;
  if (day == today) slots = static_cast<int>((deviceNow - today) / 1800);
  else if (day < today && day >= today - static_cast<int64_t>(d.profileDays) * 86400 - 3600) slots = kSlotsPerDay;
  if (slots > kSlotsPerDay) slots = kSlotsPerDay;
  if (slots <= 0) {  // no data for that day
    std::vector<uint8_t> end{0x80};
    putBcdTime(end, day);
    answer(d, 0xA4, address, end, now);
    return;
  }
  int slot = 1;
  for (int block = 0; slot <= slots; ++block) {
    std::vector<uint8_t> r{static_cast<uint8_t>(block)};
    if (block == 0) {
      putBcdTime(r, day);
      uint64_t mask = (slots >= 64 ? ~uint64_t{0} : (uint64_t{1} << slots) - 1);
      for (int i = 5; i >= 0; --i) r.push_back(static_cast<uint8_t>(mask >> (8 * i)));
    }
    for (int e = 0; e < kEntriesPerBlock && slot <= slots; ++e, ++slot) {
      int32_t v[4];
      d.profileValues(day, slot, v);
      r.push_back(static_cast<uint8_t>(slot));
      for (int32_t x : v) put32(r, static_cast<uint32_t>(x));
    }
    answer(d, 0xA4, address, r, now);
  }
}

}  // namespace qs::sim
