// The meter service menu: the device header, current values, energy
// registers, device selection, address changes, clock correction,
// transformation ratios, profile formatting, the line test and the load
// profile with its listing file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "devlink/device_state.h"
#include "metrology/class_limits.h"
#include "records/results_db.h"
#include "settings/laboratory.h"
#include "settings/meter_types.h"

namespace qs {

class DevLink;
class RunTopLine;
namespace records {
class RunRecorder;
}
class ZuController;
struct TestPoint;

inline constexpr int kScanEntries = 100;
inline constexpr int kScanEntryLength = 80;

// The device type as the header names it ("" for an unknown code).
const char* deviceTypeName(int type);

class MeterMenu {
 public:
  // What a verification run measured at one test point; a value that did
  // not come in time is not fresh and is not shown.
  // With several readings, the channel values are those of the readings
  // (their mean is the record's).
  struct PointValues {
    bool averageFresh = false;
    double average = 0;
    bool channelFresh[3] = {false, false, false};
    double channel[3] = {0, 0, 0};
    std::vector<records::Reading> readings;
    int64_t settlingMs = 0;
    uint32_t readMs = 0;   // from pulse-error measurement on to the last reading
    uint32_t pointMs = 0;  // from the point set to its last reading
    bool setKnown = false;
    uint32_t setBegan = 0;  // when the installation began to be set (system tick)
  };
  // What a run knows of the meter it verifies: its catalogue type (none:
  // limits only from the programme), whether the installation measures
  // reactive energy, how each point is measured, and the laboratory's own
  // class rows (classes.sch) beside the built-in ones.
  struct RunMeter {
    bool typed = false;
    MeterType type;
    bool reactive = false;
    MeasureSettings measure;
    std::vector<metrology::ClassRow> labRows;
  };

  explicit MeterMenu(DevLink& link, ZuController* zu = nullptr) : link_(link), zu_(zu) {}

  // 27 when the operator leaves with Esc, or the scan code of F1..F9.
  int run();
  void showHeader();
  void refreshIdentity();
  // What the header shows and the coefficients the totals are scaled by,
  // read once when the bench starts (reads only; nothing is written).
  void identifyDevice();
  int transformCoefficients();
  // 27 (scan cancelled), 0 (left) or 1 (a device was selected).
  int lineTest();
  int scanLine(int row);
  void correctTime();
  void formatProfile();
  // The load profile: -1 when the device time could not be read, else 0.
  int profile();
  // Asks for a name and writes the listing file: 0, or -1 when it cannot be written.
  int writeProfileFile(int days, const ProfileRecord* records, int64_t readingTime);
  // Key 8: steps the reference installation through a verification
  // programme and shows what it measured at each test point.
  int verification();
  // Whether key 8 is offered: a slave, or an installation switched on.
  bool verificationOffered() const;
  // Key 8: an installation that did not answer at start-up is looked for
  // again first (its panel then shows), then the run.
  int installationThenVerification();
  const char* verificationMenuLine() const;

  int scanned = 0;
  char scanList[kScanEntries][kScanEntryLength] = {};

 private:
  void currentParameters();
  void energyRegisters(bool sinceStart);
  void selectDevice();
  void changeAddress();
  void changeAddressBySerial();
  void profileDetail(const ProfileRecord& day);
  // Both ratios read and shown; false when a read failed (the screen ends).
  bool showRatios();

  // The record of a run of this bench's device and a programme.
  records::RunInfo runInfo(const std::string& key, int identity);

 public:
  // Averages a point waits for (the fourth on is the settled average) and
  // how long it waits for each kind of value.
  static constexpr uint32_t kSettledAverages = 4;
  static constexpr uint32_t kFreshValueMs = 15000;

 private:
  // Sets the installation to a point and takes the values measured there:
  // 0, 27 (Esc or the master's abort), or the failure of a step.
  int measurePoint(const TestPoint& point, const MeasureSettings& measure, double pulseRate, PointValues* values);
  // The operator's name (once a session) and the day's conditions (at its
  // first run, or again after `refusal` said why those given cannot be
  // verified in); *day gets the conditions the run keeps. 27 when the
  // operator leaves with Esc at the name, or at the form shown again.
  int askOperatorAndConditions(Conditions* day, const std::string& refusal);
  // The meter's owner, the last one offered (kept in the working folder);
  // 27 on Esc.
  int askOwner(std::string* owner);
  // The points of one run, each recorded before its row is shown; 0, or
  // what ended the run. *failed gets the points to repeat (failed, not
  // measured, or not reached).
  int runPoints(const std::vector<TestPoint>& points, records::RunRecorder& recorder, const RunMeter& meter,
                RunTopLine& top, std::vector<TestPoint>* repeat, std::string* notMeasured);

  DevLink& link_;
  ZuController* zu_;
  bool installationReset_ = false;  // the last run's end reset the installation
  int withoutLimit_ = 0;            // points of the last run that sought no limit
};

// Sets the installation to a point and measures it: the settling time,
// the settled average, then each reading of the channels with pulse-error
// measurement on, the last no sooner than the minimum time and, where the
// meter's pulses a second at the point are known (`pulseRate` > 0), no
// sooner than its minimum pulses, up to the measuring's bound. 0, 27 (Esc
// or the master's abort), or the failure of a step.
int measurePointOn(ZuController& zu, const TestPoint& point, const MeasureSettings& measure, double pulseRate,
                   MeterMenu::PointValues* values);

// A verification point's record from what was measured there: its limit
// and the programme line (of `file`) it came from, how long it took, and
// its state. A point whose measuring was ended (Esc, the installation
// failing, the stand's master gone) is recorded as not measured, with
// `endedBy` as the reason (nullptr: not ended); so is one whose meter gave
// fewer pulses than the measuring asks. Without a limit on its programme
// line a point takes the one its meter's class gives, with the class row
// as its source.
records::PointRecord recordOfPoint(const TestPoint& point, const std::string& file,
                                   const MeterMenu::PointValues& values, uint32_t ms, const char* endedBy,
                                   const MeterMenu::RunMeter& meter = {});

}  // namespace qs
