// The records behind every exchange with the device under test.
#pragma once
#include <array>
#include <cstdint>

namespace qs {

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr int kProfileSlots = 50;

// Totals and one day's half-hour profile, filled by the 0xA2/0xA3/0xA4 answers.
struct ProfileEntry {
  int present = 0;       // 1 when the slot was received
  double values[4] = {};  // P+, P-, Q+, Q-
};

struct ProfileRecord {
  int64_t time = 0;       // stamp of the last block header (seconds since 1970)
  double sums[4] = {};    // totals (0xA2/0xA3), or running sums over the day (0xA4)
  int expectedEntries = 0;
  int receivedEntries = 0;
  uint8_t sequence = 0;   // number the next block must carry in its low six flag bits
  uint64_t slotMask = 0;  // which of the 50 slots the device will send
  ProfileEntry entries[kProfileSlots];
  uint8_t blockStatus = 0;  // 0x06 after a data block, 0x15 after the end block
};

// The device link's record of the device and of the exchange under way.
// Created zero-filled; the telemechanics requests keep fields of their own here.
struct DeviceState {
  uint8_t address = 0;
  uint8_t pendingAddress = 0;
  char serialText[10] = {};
  uint32_t serialNumber = 0;
  uint8_t addressExtra = 0;
  uint8_t pendingAddressExtra = 0;
  uint8_t deviceType = 0;
  uint8_t command = 0;          // of the last request; only its answer is taken
  uint8_t responseCommand = 0;  // of the last accepted answer; 0xFF while receiving
  uint8_t status = 0;           // 0x15 while decoding, 0x06 after data, else the device's byte
  const uint8_t* frame = nullptr;  // the last accepted answer in the channel's receive buffer
  std::array<char, 1024> textBuffer{};  // text and block payloads
  int textLength = 0;
  int sentLength = 0;
  int receivedLength = 0;
  // The time the device is given to answer the last request, as a tick
  // (platform::tickCount) measured from the request's write: until then a
  // quiet line is no failure, however long the gaps in its frames.
  bool answerDueSet = false;
  uint32_t answerDue = 0;
  uint32_t sentAt = 0;  // the tick the last request was written
  // Telemechanics fields.
  uint16_t valuesE[16] = {};  // TS debounce times, ms
  uint16_t valueG = 0;        // TS polarity mask, bit i for channel i + 1
  uint16_t valuesS[8] = {};   // TI analysis times, 0.1 s
  double valueI = 0;          // automatic on/off delay, s
  uint8_t fillByte = 0;       // TU on-time, 100 ms
  float halfValue = 0;        // inside temperature
  uint8_t viewMode = 0;
  uint8_t scaleMode = 0;
  int tsGroupCount = 0;
  uint32_t tsPresence = 0;
  uint32_t tsCurrent = 0;
  uint32_t tsLatch0 = 0;
  uint32_t tsLatch1 = 0;
  int tiMaskBytes = 0;
  uint32_t tiPresence = 0;
  uint32_t tiSelection = 0;
  uint32_t tiMask = 0;
  uint16_t tiValues[32] = {};
  uint32_t counterMask = 0;
  uint16_t counterValues[32] = {};
  int tuWidth = 0;
  uint32_t tuPresence = 0;
  uint16_t tuSelection = 0;
  uint8_t dacMask = 0;
  uint16_t dacValues[8] = {};
  float outsideTemperature = 0;
  uint8_t tuView = 0;
  // Register access, quantities and general results.
  uint8_t registerId = 0;
  int registerSize = 0;
  int quantityMask = 0;
  uint32_t results[16] = {};
  int averagingCount = 0;
  int64_t timeValue = 0;
  ProfileRecord* profileTarget = nullptr;
};

}  // namespace qs
