// The arithmetic of a point measured with several readings: their mean and
// spread, and the pulses the meter gives meanwhile.
#pragma once
#include <vector>

namespace qs::metrology {

struct Summary {
  int count = 0;      // finite values
  double mean = 0;
  double spread = 0;  // max - min
};
Summary summarise(const std::vector<double>& values);

// The meter's pulses over `seconds` at a point: its power (phase voltage ×
// current × |cos φ| on each loaded phase) in kW times the constant in
// imp/kWh, over the hours. < 0 when something is not known.
double pulsesAt(double phaseVoltage, double current, double pf, int loadedPhases, double constant, double seconds);

}  // namespace qs::metrology
