// Simulated devices under test on one multi-drop line. Each device answers
// the device-link requests addressed to it from one memory model: EEPROM,
// word memory, clock, energy totals, current values and deterministic
// half-hour profiles. Faults (lost, late, corrupted answers, line noise) are
// injected with a seed so that a run can be repeated.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/peer.h"

namespace qs::sim {

struct SimDevice {
  uint8_t address = 0x21;
  uint8_t addressExtra = 10;
  uint32_t serial = 0x123456;  // 24 bits
  uint8_t type = 1;            // 3Ф4П(220В)
  std::string version = "v102";
  std::vector<uint8_t> eeprom = std::vector<uint8_t>(4096, 0xFF);
  std::vector<uint8_t> words = std::vector<uint8_t>(1024, 0);  // byte-addressed 4-byte words
  int64_t clockOffset = 0;     // device time = computer time + offset
  bool clockStands = false;    // the clock stands at clockOffset (a fixed time) instead
  int64_t clockNow() const;
  uint32_t currentRaw[16] = {};
  uint64_t totalsSinceStart[4] = {};
  uint64_t totalsThisMonth[4] = {};
  int profileDays = 45;        // days back from today that hold profile data
  bool answerSerialAsDigits = false;  // 0x5F: six digits, or bytes with the number at 3..5
  // Profile formatting: progress reports of `formatTables` steps, twice over.
  int formatTables = 8;
  int formatStepMs = 80;

  // Telemechanics controller (module bytes at EEPROM 0x20 say which channels exist).
  int16_t tiRaw[32] = {};       // measurement inputs, raw counts
  uint32_t tsCurrent = 0;       // signal inputs, bit i for channel i + 1
  uint32_t tsLatch0 = 0;        // inputs seen rising since the last clear
  uint32_t tsLatch1 = 0;        // inputs seen falling since the last clear
  uint16_t tuOutputs = 0;       // outputs switched by the last 0x4C
  std::vector<uint8_t> tuOnTimes;  // its on-times, one per output switched
  float insideTemperature = 23.5f;
  float outsideTemperature = -4.0f;
  uint16_t analysisTimes[8] = {};   // 0.1 s
  uint16_t debounceTimes[16] = {};  // ms
  uint16_t polarity = 0;
  uint16_t autoDelay = 0;           // 0.1 s
  uint32_t tiSelection = 0x0F;
  uint16_t counters[32] = {};
  uint16_t dac[8] = {};
  uint8_t speedCode = 7;
  int nakAcks = 0;              // so many acknowledgements are refusals
  bool meterProtocol = true;    // false: a bare controller that ignores the meter's requests
  // When the device answers, from the end of the request: at once (-1), so
  // many ms later, or (late) 1 ms before the end of the time the program
  // gives the command.
  int answerMs = -1;
  bool answerLate = false;
  int polls = 0;                // live-view polls answered (the values move with them)
  // The signal inputs move on with every poll (a slow walking pattern).
  void stepInputs();
  // A device with plausible contents for a serial number and address.
  static SimDevice make(uint8_t address, uint32_t serial);
  void setRatio(int eepromAddress, unsigned value);  // four ASCII digits
  void setCoefficient(int index, float value);
  float coefficient(int index) const;
  // The half-hour values P+, P-, Q+, Q- (tenths) of slot 1..48 of a day.
  void profileValues(int64_t dayStart, int slot, int32_t out[4]) const;
};

struct Faults {
  double drop = 0;      // an answer is not sent
  double corrupt = 0;   // one byte of an answer is changed
  double noise = 0;     // random bytes come before an answer
  uint32_t delayMs = 0;  // every answer comes this much later
  uint32_t burstGapMs = 0;  // every answer frame comes in two bursts this far apart
  bool foreignFirst = false;  // an answer of another address comes before each answer
  uint32_t seed = 1;
};

// The line: takes the bytes the program writes, answers from the device(s)
// addressed, and hands out the answer bytes when they are due.
class SimLine : public Peer {
 public:
  SimLine();
  SimDevice& add(const SimDevice& device);
  std::vector<SimDevice>& devices() { return devices_; }
  SimDevice* find(uint8_t address);
  void setFaults(const Faults& faults);

  // Bytes from the program at time `nowMs` (a tick count).
  void receive(const uint8_t* data, size_t size, uint32_t nowMs) override;
  // Answer bytes due by `nowMs`, at most `max`.
  size_t take(uint8_t* out, size_t max, uint32_t nowMs) override;
  // Time (ms from now) until the next answer byte is due; -1 when none waits.
  int nextDueIn(uint32_t nowMs) const override;
  bool idle() const { return out_.empty(); }

  // Every request frame the line has seen (for tests).
  std::vector<std::vector<uint8_t>> requests;
  // Answers the line holds back entirely (a silent line), for tests.
  bool silent = false;
  // Answer frames to lose, by their number (counted from 0 over the line's life).
  std::set<int> dropAnswers;
  int answersMade = 0;
  size_t bytesAnswered = 0;  // every byte the devices sent
  // Every device answers its type with this byte instead when set (>= 0).
  int typeOverride = -1;
  // When set, the line takes the time a request and its answer need on a
  // wire at this rate (8N1) before the answer is due; 0: at once.
  uint32_t baud = 0;
  // Told of what changes a device: "tu 21 0005" (outputs switched), "address
  // 21 35", "eeprom 21 0034 4" (bytes written), "clock 21".
  std::function<void(const std::string&)> onEvent;

 private:
  struct Pending {
    uint32_t due;
    std::vector<uint8_t> bytes;
  };
  void handleFrame(const std::vector<uint8_t>& frame, uint32_t nowMs);
  uint32_t wireMs(size_t bytes) const;
  void answer(SimDevice& d, uint8_t command, uint8_t address, const std::vector<uint8_t>& payload, uint32_t due);
  void answerRequest(SimDevice& d, uint8_t command, uint8_t address, const uint8_t* p, int length, uint32_t nowMs);
  void answerProfile(SimDevice& d, uint8_t address, const uint8_t* p, int length, uint32_t due);

  std::vector<SimDevice> devices_;
  std::vector<uint8_t> in_;
  std::deque<Pending> out_;
  Faults faults_;
  std::mt19937 rng_;
  uint32_t requestPauseMs_ = 10;  // the time the program gives the request being answered
};

// The time the program gives a request frame to be answered: its device
// link's pause for a meter command, the telemechanics pause otherwise.
uint32_t requestPauseOf(const std::vector<uint8_t>& frame);

// A frame in the device-link format (start, command, address, length,
// payload, checksum).
std::vector<uint8_t> makeFrame(uint8_t command, uint8_t address, const std::vector<uint8_t>& payload);

}  // namespace qs::sim
