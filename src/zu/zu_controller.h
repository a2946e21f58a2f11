// The reference meter-test installation (ЭУ7125М), driven as an operator
// would: key codes over a serial line, display frames back. One controller
// per process: the link and its read thread that averages the measured
// values, the test-point and pulse-error sequences, and the verification
// programmes loaded from the settings.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "platform/named_event.h"

namespace qs {

// The installation's display character set, for received bytes 0x30-0x58.
extern const unsigned char kZuDisplayChars[0x29];

enum LoadType : uint8_t { kLoadNone = 0, kLoadInductive = 1, kLoadCapacitive = 2 };

// Phase sets and the byte that selects them.
enum PhaseSet : uint8_t { kPhaseA = 0, kPhaseB, kPhaseC, kPhaseABC, kPhaseAC, kPhaseAB, kPhaseBC };
int phaseByte(int code);          // -1 for a code above 6
const char* phaseName(int code);  // "A", "B", "C", "ABC", "AC(Q)", "AB", "BC"; "-" for no code

// Step codes of a forwarded installation request: 0-4 set a test point on
// the phases of that code, 5 and 6 switch pulse-error measurement on and
// off, 7 and 8 switch to active and reactive energy, and 9 and 10 set a test
// point on phases A,B and B,C (whose phase codes 5 and 6 are the pulse-error
// steps).
inline constexpr int kStepPulseOn = 5, kStepPulseOff = 6, kStepActive = 7, kStepReactive = 8;
inline constexpr int kStepPhasesAB = 9, kStepPhasesBC = 10;
// The step that sets a test point on the phases of `code`; -1 for no code.
int stepForPhases(int code);
// The phase code a step sets a test point on; -1 for a step that sets none.
int phasesForStep(int step);

struct TestPoint {
  double U = 0, Upct = 0, I = 0, Ipct = 0, PF = 0;
  uint8_t loadType = kLoadNone;
  double F = 0;
  uint8_t timeFlag = 0;
  uint8_t phases = kPhaseABC;
  uint8_t fictPow = 0;
  int32_t auxInt = 0;
  double auxReal1 = 0, auxReal2 = 0;
  int32_t number = 0;
  // The permitted error of the channels in percent at this point, as the
  // optional field after the phases gives it ("0,5"); "" when it gives none.
  std::string limit;
  int32_t sourceLine = 0;  // the line of the programme file it came from
};

// What a slave's controller asks of the master instead of driving the
// installation itself (the multi-bench link provides it).
class ZuMaster {
 public:
  virtual ~ZuMaster() = default;
  virtual bool isSlave() const = 0;
  virtual int programmeVariant() const = 0;
  virtual void setProgrammeVariant(int variant) = 0;
  virtual int postStep(int variant, int group, int point, int step) = 0;
  virtual int postReset() = 0;
  virtual int postMode() = 0;
  virtual int postLoad(const std::string& key, int identity, int variant, int group) = 0;
  // The task is idle again (after a test point) / leaves the calibration.
  virtual int postIdle() = 0;
  virtual int postLeaveCalibration() = 0;
  // The bench's task number on the stand (1-9), 0 when it has none.
  virtual int benchNumber() const { return 0; }
  // The master this bench joined has ended (killed, or closed): nothing it
  // asks for will be done.
  virtual bool masterGone() const { return false; }
  // When the master began to set the installation to the last test point
  // (system tick); false when it has not said.
  virtual bool stepBegan(uint32_t* tick) const {
    (void)tick;
    return false;
  }
};

// Where the controller's operator keys come from: the console, unless the
// process has a thread of its own that owns the keyboard (the master's
// console) and hands keys over.
class ZuKeys {
 public:
  virtual ~ZuKeys() = default;
  // True when the operator pressed Esc (other keys meanwhile are dropped).
  virtual bool escPressed() = 0;
  // Waits for the operator's next key.
  virtual int waitKey() = 0;
};

// What the bench has seen of the measured values: how many averages and
// channel values had been published when it looked.
struct ValueMark {
  uint32_t averages = 0;
  uint32_t channels[3] = {0, 0, 0};
};

class ZuController {
 public:
  ZuController();
  ~ZuController();
  ZuController(const ZuController&) = delete;
  ZuController& operator=(const ZuController&) = delete;

  // ---- link ---------------------------------------------------------------------------
  // 0, 0xE5 (Esc), 0xFF (no channel made), 0xFE (the port did not open).
  int open(const char* portName);
  // Uses a channel made elsewhere (a simulated installation in tests).
  int open(std::unique_ptr<Channel> channel);
  int toggleAuto(const char* portName);
  // When the installation began to be set to the point that setTestPoint
  // set last (system tick): here, or at the stand's master.
  uint32_t pointSetBegan = 0;
  // The port ("COM5") where automatic work was switched on and the
  // installation did not answer: its panel says so, and a bench may look
  // for it again. "" when it answered or was never sought.
  std::string missingPort;
  // Looks again for the installation that did not answer; true once it has.
  bool findAgain();
  int reset();
  void close();
  void sendKeys(const std::string& keys);
  int readFrame(int frames, int idleLimit);
  int decodeFrame();
  // Decodes the frame just read and takes the measured value or channel
  // value it carries; `discard` drops the first readings after a change.
  void takeFrame(bool& discard);
  bool expect(const std::string& text);
  bool sendValue(int index, double value, bool allowDecimals, bool waitEcho);
  // Starts the read thread (held at its gate until resumeReader); false when
  // no thread can be had.
  bool startReader();
  void pauseReader();
  void resumeReader();
  void clearAverage();
  // The measured values published so far, and a wait for values published
  // after `mark`: the average once `averages` more have come, each channel
  // value once one more has come. Waits at most `limitMs`; true when they
  // all came, false when the time ran out or the operator pressed Esc
  // (*esc tells which).
  ValueMark valueMark() const;
  bool waitFreshAverage(const ValueMark& mark, uint32_t averages, uint32_t limitMs, bool* esc);
  bool waitFreshChannels(const ValueMark& mark, uint32_t limitMs, bool* esc);
  // Lets `ms` pass (a point settling), unless the operator presses Esc.
  void hold(uint32_t ms, bool* esc);
  uint32_t averagesSince(const ValueMark& mark) const;
  bool channelFresh(const ValueMark& mark, int n) const;
  // Points the published values and their counters into a block that other
  // processes share (average at `average`, channel values at `channels`,
  // counters at `averageCount` and three words at `channelCounts`).
  void publishInto(uint8_t* average, uint8_t* channels, uint8_t* averageCount, uint8_t* channelCounts);
  // The text of the last frame received (after decodeFrame).
  std::string frameText() const { return std::string(reinterpret_cast<const char*>(frame)); }

  // ---- test points ----------------------------------------------------------------------
  int setTestPoint(int number, int code);
  int applyTestPoint(TestPoint& point);
  int changeTestPoint(TestPoint& point);
  int pulseErrorOn(int number);
  // A step that failed with `code`: shown for 3 seconds before it is tried
  // again; true when the operator stopped it with Esc meanwhile.
  bool failurePause(int code);
  int pulseErrorOff(int number);
  int getMode();
  int switchMode(int m);
  TestPoint* findTestPoint(int number);

  // ---- programmes -----------------------------------------------------------------------
  int loadProgramme(const std::string& settingsPath, const std::string& key, int identity, int variant, int group);
  // Why the last load failed where a line of the programme is at fault
  // (-4: "Ошибка в строке N программы FILE: допуск"); "" otherwise.
  std::string programmeError;
  // out[0] the port number, out[1] the automatic flag.
  int readPortSetting(const std::string& settingsPath, uint8_t* out);

  // ---- fields -----------------------------------------------------------------------------
  double* channelValues;
  double lastValue = 0;
  double avgSum = 0;
  uint32_t avgCount = 0;
  std::atomic<uint8_t> readerState{0};
  uint8_t paused = 1;
  ZuMaster* sync = nullptr;
  double* avgValue;
  double ownAvg = 0;
  int32_t testPointCount = 0;
  std::vector<TestPoint> testPoints;
  TestPoint* currentTestPoint = nullptr;
  uint8_t programmeGroup = 0;
  std::string programmeFile;  // the file the test points were read from
  int32_t pulseMode = 0;
  int32_t mode = 255;
  int32_t autoOn = 0;
  uint8_t established = 0;
  double U = 0, Upct = 0, I = 0, Ipct = 0, PF = 0;
  uint8_t loadType = 0, timeFlag = 0, phases = 0, fictPow = 0;
  uint16_t rxSize = 255;
  uint8_t rxBuffer[255];
  uint8_t* frame = rxBuffer + 1;
  uint16_t idleReads = 0;
  std::unique_ptr<platform::Event> powerEvent;
  std::atomic<uint8_t> newValue{0};
  std::unique_ptr<platform::Event> countErrEvent;
  std::unique_ptr<platform::Event> gate;
  std::timed_mutex avgLock;
  std::unique_ptr<Channel> channel;
  // The operator's keys (null: the console).
  ZuKeys* keys = nullptr;
  // The counters of the average and of each channel value (4-byte aligned
  // words; in master and slave mode in the shared block): odd while a value
  // is being written, two more with each value published.
  uint32_t* averageCount;
  uint32_t* channelCounts;

 private:
  void readLoop();
  void drain();
  bool escPressed();
  void label(const char* text);
  // The installation holds `p` now: the reader measures again.
  void establish(const TestPoint& p);

 public:
  bool isSlave() const { return sync != nullptr && sync->isSlave(); }
  // The published average and channel values (wherever they are kept).
  double average() const;
  double channelValue(int n) const;

 private:

  double ownChannelValues_[3] = {0, 0, 0};
  uint32_t ownCounts_[4] = {0, 0, 0, 0};
  int operatorKey();
  std::thread reader_;
  // The reader tells when it is held at the gate, so a sequence never shares
  // the line with it.
  std::mutex parkMutex_;
  std::condition_variable parkCv_;
  bool parked_ = true;
};

}  // namespace qs
