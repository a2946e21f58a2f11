// The device operations: one request, its answer, and each operation's own
// rule for attempts, pauses, Esc and caches.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/bytes.h"
#include "console/console.h"
#include "devlink/dev_link.h"
#include "devlink/frames.h"
#include "platform/time.h"

namespace qs {
namespace {

constexpr uint32_t kPauseBeforeReceive = 5;
constexpr uint32_t kPauseAfterFailure = 15;
constexpr int kCoefficientBase = 32;  // word address of coefficient 0
constexpr int kVersionWord = 28;
constexpr int kRatioUAddress = 52;
constexpr int kRatioIAddress = 60;
constexpr uint8_t kAddressExtra = 10;

double floatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

}  // namespace

bool DevLink::escPressed() {
  if (!Console::keyPending()) return false;
  return Console::readKey() == kKeyEsc;  // any other key is dropped
}

long DevLink::readSerialNumber(int force) {
  if (cachedSerial != kNoSerial && force == 0) return static_cast<long>(cachedSerial);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (escPressed()) return -27;
    sendRequest(*this, nullptr, 0x70);
    answerLater(*state, kPauseBeforeReceive);
    if (receiveResponse(*this) == 0) {
      cachedSerial = state->serialNumber;
      return static_cast<long>(cachedSerial);
    }
    cachedSerial = kNoSerial;
    if (attempt < 3) platform::sleepMs(kPauseBeforeReceive);
  }
  return -1;
}

long DevLink::readSerialText(int force) {
  if (cachedSerial != kNoSerial && force == 0) return static_cast<long>(cachedSerial);
  if (escPressed()) return -27;
  sendRequest(*this, nullptr, 0x5F);
  answerLater(*state, kPauseBeforeReceive);
  if (receiveResponse(*this) != 0) {
    cachedSerial = kNoSerial;
    return -1;
  }
  cachedSerial = static_cast<uint32_t>(std::strtoul(state->textBuffer.data(), nullptr, 16));
  return static_cast<long>(cachedSerial);
}

long DevLink::readEepromNumber(int address, int count) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(address);
    a.a2 = static_cast<uint32_t>(count);
    sendRequest(*this, nullptr, 0x6F, a);
    answerLater(*state, kPauseBeforeReceive);
    if (receiveResponse(*this) == 0) return decimalValue(state->textBuffer.data());
    platform::sleepMs(kPauseAfterFailure);
  }
  return -1;
}

int DevLink::readEepromBlock(int address, int count, uint8_t* destination) {
  int lastFailure = 0;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (escPressed()) return lastFailure != 0 ? lastFailure : count;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(address);
    a.a2 = static_cast<uint32_t>(count);
    sendRequest(*this, nullptr, 0x6F, a);
    answerLater(*state, kPauseBeforeReceive);
    int r = receiveResponse(*this);
    // An answer with fewer bytes than asked for would leave old bytes in
    // the copy: it counts as a failed attempt.
    if (r == 0 && state->textLength < count) r = 0x6F00;
    if (r == 0) {
      std::memcpy(destination, state->textBuffer.data(), static_cast<size_t>(count));
      return 0;
    }
    lastFailure = r;
    platform::sleepMs(kPauseAfterFailure);
  }
  return lastFailure;
}

long DevLink::readRatioU() { return readEepromNumber(kRatioUAddress, 4); }
long DevLink::readRatioI() { return readEepromNumber(kRatioIAddress, 4); }

int DevLink::writeEepromBlock(int address, int count, const uint8_t* data) {
  for (int attempt = 1; attempt <= 11; ++attempt) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(address);
    a.a2 = static_cast<uint32_t>(count);
    a.data = data;
    sendRequest(*this, nullptr, 0x6C, a);
    answerLater(*state, kPauseBeforeReceive);
    if (receiveResponse(*this) == 0) return 0;
    platform::sleepMs(kPauseAfterFailure);
  }
  return -1;
}

int DevLink::writeRatioU(unsigned value) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%04u", value);
  return writeEepromBlock(kRatioUAddress, n, reinterpret_cast<const uint8_t*>(text));
}

int DevLink::writeRatioI(unsigned value) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%04u", value);
  return writeEepromBlock(kRatioIAddress, n, reinterpret_cast<const uint8_t*>(text));
}

int DevLink::readDeviceType(int force) {
  if (force == 0 || cachedDeviceType != kNoDeviceType) return cachedDeviceType;
  for (int attempt = 1; attempt <= 11; ++attempt) {
    if (escPressed()) return 0xE5;  // the low byte of -27
    sendRequest(*this, nullptr, 0x79);
    answerLater(*state, kPauseBeforeReceive);
    if (receiveResponse(*this) == 0) {
      if (state->deviceType != 0xFF) {
        cachedDeviceType = state->deviceType;
        return cachedDeviceType;
      }
      cachedDeviceType = 1;
    } else {
      cachedDeviceType = kNoDeviceType;
    }
    platform::sleepMs(kPauseAfterFailure);
  }
  return 0xFF;
}

int DevLink::changeAddress(uint8_t newAddress) {
  RequestArgs a;
  a.a1 = newAddress;
  a.a2 = kAddressExtra;
  sendRequest(*this, nullptr, 0x7B, a);
  if (receiveResponse(*this) != 0) return -1;
  setAddress(newAddress);
  return 0;
}

int DevLink::changeAddressBySerial(uint8_t newAddress, uint32_t serial) {
  uint8_t previous = state->address;
  setAddress(kSerialRequestAddress);
  RequestArgs a;
  a.a1 = newAddress;
  a.a2 = kAddressExtra;
  a.a3 = serial;
  sendRequest(*this, nullptr, kSerialByNumberCode, a);
  if (receiveResponse(*this) != 0) {
    setAddress(previous);
    return -1;
  }
  setAddress(newAddress);
  return 0;
}

int DevLink::selectAddress(uint8_t address) {
  setAddress(address);
  return 0;
}

int DevLink::readDayProfile(int64_t dayTime, ProfileRecord* record) {
  for (;;) {
    // Every request starts from a clear record, so a device that answers a
    // repeated request from its first block is taken.
    *record = ProfileRecord{};
    state->profileTarget = record;
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(dayTime);
    a.a2 = 0x30;
    a.a3 = 0x00;
    a.a4 = 0x30;
    sendRequest(*this, nullptr, 0xA4, a);
    if (receiveResponse(*this) != 0) continue;
    bool complete = true;
    while (record->receivedEntries != record->expectedEntries) {
      if (receiveResponse(*this) != 0) {
        complete = false;
        break;
      }
    }
    if (complete) return 0;
  }
}

int DevLink::totals(int code, int attempts, ProfileRecord* record) {
  // The totals are scaled by this device's own coefficients: read first
  // when they are not known for its address.
  if (coefficientsAddress != deviceAddress) {
    int r = readAllCoefficients();
    if (r != 0) return r == -27 ? -27 : kNoCoefficients;
  }
  state->profileTarget = record;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (escPressed()) return -27;
    sendRequest(*this, nullptr, code);
    if (receiveResponse(*this) == 0) {
      record->sums[0] *= coefficients[0];
      record->sums[1] *= coefficients[0];
      record->sums[2] *= coefficients[3];
      record->sums[3] *= coefficients[3];
      return 0;
    }
  }
  return -1;
}

int DevLink::readTotalsSinceStart(ProfileRecord* record) { return totals(0xA2, 6, record); }
int DevLink::readTotalsThisMonth(ProfileRecord* record) { return totals(0xA3, 4, record); }

int DevLink::startProfileFormat() {
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (escPressed()) return -27;
    sendRequest(*this, nullptr, 0x7F);
    if (receiveResponse(*this) == 0) return 0;
  }
  return -1;
}

int DevLink::pollProfileFormat(uint32_t* first, uint32_t* second) {
  if (receiveResponse(*this) != 0) return -1;
  if (state->results[0] == 6 && state->results[1] == 6) return 1;
  if (first != nullptr) *first = state->results[1];
  if (second != nullptr) *second = state->results[0];
  return 0;
}

int DevLink::readCurrentValues(double* values) {
  // Bounded: six failed answers (or, without an array, six answers) end it.
  int failures = 0, answers = 0;
  for (;;) {
    if (escPressed()) return -27;
    sendRequest(*this, nullptr, 0x86);
    if (receiveResponse(*this) != 0) {
      if (++failures >= 6) return -1;
      continue;
    }
    if (values == nullptr) {
      if (++answers >= 6) return -1;
      continue;
    }
    for (int j = 0; j < 16; ++j) values[j] = static_cast<double>(state->results[j] / 10u);
    for (int j = 6; j <= 8; ++j) values[j] *= 0.01;
    return 0;
  }
}

int DevLink::readDeviceTime(int64_t* time) {
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (escPressed()) return -27;
    sendRequest(*this, nullptr, 0x81);
    if (receiveResponse(*this) == 0) {
      *time = state->timeValue;
      return 0;
    }
  }
  return -1;
}

int DevLink::setDeviceTime(int64_t time) {
  // Each attempt sends the time as it is then, so the retries' time does
  // not leave the device behind.
  uint32_t start = platform::tickCount();
  for (;;) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(time + (platform::tickCount() - start + 500) / 1000);
    sendRequest(*this, nullptr, 0x80, a);
    if (receiveResponse(*this) == 0) return 0;
  }
}

int DevLink::readCoefficient(int index, double* value) {
  if (index < 0 || index > 15) return -1;
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(kCoefficientBase + 4 * index);
    a.a2 = 1;
    sendRequest(*this, nullptr, 0x77, a);
    if (receiveResponse(*this) == 0) {
      coefficients[index] = floatFromBits(state->results[0]);
      if (value != nullptr) *value = coefficients[index];
      return 0;
    }
  }
  return -1;
}

int DevLink::readAllCoefficients() {
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = kCoefficientBase;
    a.a2 = 16;
    sendRequest(*this, nullptr, 0x77, a);
    // All sixteen words must be there, or the table would take old bytes.
    if (receiveResponse(*this) == 0 && state->receivedLength - 6 >= 64) {
      const uint8_t* t = reinterpret_cast<const uint8_t*>(state->textBuffer.data());
      for (int j = 0; j < 16; ++j) {
        uint32_t bits = static_cast<uint32_t>(t[4 * j]) | (static_cast<uint32_t>(t[4 * j + 1]) << 8) |
                        (static_cast<uint32_t>(t[4 * j + 2]) << 16) | (static_cast<uint32_t>(t[4 * j + 3]) << 24);
        coefficients[j] = floatFromBits(bits);
      }
      coefficientsAddress = deviceAddress;
      return 0;
    }
  }
  return -1;
}

int DevLink::readWord(int address, const char** word) {
  *word = nullptr;
  for (int attempt = 1; attempt <= 6; ++attempt) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(address);
    a.a2 = 1;
    sendRequest(*this, nullptr, 0x77, a);
    if (receiveResponse(*this) == 0) {
      *word = state->textBuffer.data();
      return 0;
    }
  }
  return -27;
}

int DevLink::writeCoefficient(int index, double value) {
  if (index < 0 || index > 15) return -1;
  coefficients[index] = value;
  int failures = 0;
  for (;;) {
    if (escPressed()) return -27;
    RequestArgs a;
    a.a1 = static_cast<uint32_t>(kCoefficientBase + 4 * index);
    a.value = value;
    sendRequest(*this, nullptr, 0x78, a);
    if (receiveResponse(*this) != 0) {
      if (++failures >= 6) return -27;
      continue;
    }
    double back = 0;
    int r = readCoefficient(index, &back);
    if (r == -27) return -27;
    if (r == 0 && std::fabs(back - value) < 0.0001) return 0;
  }
}

long DevLink::readVersion(int force) {
  if (force != 0) {
    const char* word = nullptr;
    if (readWord(kVersionWord, &word) == 0) {
      versionMajor = static_cast<uint8_t>(word[1] - '0');
      versionMinor = static_cast<uint8_t>(word[2] - '0');
      versionBuild = static_cast<uint8_t>(word[3] - '0');
    } else {
      versionMajor = 0;
      versionMinor = 0;
      versionBuild = 1;
    }
  }
  return versionMajor * 65536L + versionMinor * 256L + versionBuild;
}

}  // namespace qs
