// The error curve of a run, drawn as SVG for its protocol: each channel's
// error against the current (a logarithmic scale of the share of Ib or In,
// or of amperes when the meter's base current is not known), one line per
// power factor and loading, the band of the permitted error shaded, and
// the values outside it marked. Line styles and marker shapes tell the
// lines apart on a black-and-white print.
#pragma once
#include <string>
#include <vector>

#include "records/results_db.h"

namespace qs::records {

// The chart's scales, for the points it draws.
struct ChartScale {
  double xLow = 0, xHigh = 0;  // the axis' ends (shares of the base current, or A)
  double yLimit = 0;           // the vertical axis runs from -yLimit to +yLimit (%)
  std::vector<double> xTicks, yTicks;
};
ChartScale chartScale(const std::vector<PointRecord>& points, double base);

// The SVG element ("" when no point has a value to draw).
std::string errorChartSvg(const std::vector<PointRecord>& points, double base, bool transformer);

}  // namespace qs::records
