#include "metrology/measuring.h"

#include <algorithm>
#include <cmath>

namespace qs::metrology {

Summary summarise(const std::vector<double>& values) {
  Summary s;
  double low = 0, high = 0, sum = 0;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    low = s.count == 0 ? v : std::min(low, v);
    high = s.count == 0 ? v : std::max(high, v);
    sum += v;
    ++s.count;
  }
  if (s.count > 0) {
    s.mean = sum / s.count;
    s.spread = high - low;
  }
  return s;
}

double pulsesAt(double u, double i, double pf, int phases, double constant, double seconds) {
  if (!(u > 0) || !(i >= 0) || phases < 1 || phases > 3 || !(constant > 0) || !(seconds >= 0) || !std::isfinite(pf))
    return -1;
  double kilowatts = u * i * std::fabs(pf) * phases / 1000.0;
  return kilowatts * constant * seconds / 3600.0;
}

}  // namespace qs::metrology
