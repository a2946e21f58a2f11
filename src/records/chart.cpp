#include "records/chart.h"
#include "console/bytes.h"
#include "console/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace qs::records {
namespace {

// The drawing area of the SVG (its own units; it is scaled to the page).
constexpr double kWidth = 680, kHeight = 250;
constexpr double kLeft = 58, kRight = kWidth - 12, kTop = 10, kBottom = kHeight - 72;

// Line styles of the lines of one power factor, and marks of the channels:
// both tell lines apart without colour.
const char* const kDashes[] = {"", "7 3", "2 3", "9 3 2 3", "14 4", "4 2 4 6"};
const char* const kChannelGrey[3] = {"#000", "#444", "#777"};

std::string num(double v, int decimals) { return decimalFixed(v, decimals); }

std::string shortNumber(double v) { return decimalComma(v); }

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

bool drawn(const PointRecord& p) {
  return p.I > 0 && (p.channelFresh[0] || p.channelFresh[1] || p.channelFresh[2]);
}

double limitOf(const PointRecord& p) {
  int64_t t = 0;
  return parseLimit(p.limit, &t) ? static_cast<double>(t) / 1000.0 : -1;
}

// A step of 1, 2, 2,5 or 5 times a power of ten that divides `span` into at
// most `count` parts.
double niceStep(double span, int count) {
  double raw = span / count;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  return 10 * power;
}

std::string groupName(const PointRecord& p) {
  std::string out = "cos φ = " + shortNumber(std::fabs(p.PF));
  if (!p.load.empty()) out += " " + p.load;
  return out + ", " + p.phases;
}

}  // namespace

ChartScale chartScale(const std::vector<PointRecord>& points, double base) {
  ChartScale s;
  double low = 0, high = 0, largest = 0, widest = 0;
  bool any = false;
  for (const PointRecord& p : points) {
    if (!drawn(p)) continue;
    double x = base > 0 ? p.I / base : p.I;
    low = any ? std::min(low, x) : x;
    high = any ? std::max(high, x) : x;
    any = true;
    widest = std::max(widest, limitOf(p));
    for (int n = 0; n < 3; ++n)
      if (p.channelFresh[n] && std::isfinite(p.channel[n])) largest = std::max(largest, std::fabs(p.channel[n]));
  }
  if (!any) return s;
  s.xLow = low / 1.6;
  s.xHigh = high * 1.6;
  for (int k = -4; k <= 4; ++k)
    for (double m : {1.0, 2.0, 5.0}) {
      double t = k < 0 ? m / std::pow(10.0, -k) : m * std::pow(10.0, k);  // (0,02 exactly as written)
      if (t >= s.xLow * (1 - 1e-9) && t <= s.xHigh * (1 + 1e-9)) s.xTicks.push_back(t);
    }
  // A value far beyond every limit does not flatten the band: the axis
  // stops at ten times the widest limit and such a value is drawn at its end.
  double span = std::max(largest, widest);
  if (widest > 0) span = std::min(span, 10 * widest);
  if (!(span > 0)) span = 1;
  double step = niceStep(span * 1.15, 4);
  s.yLimit = std::ceil(span * 1.15 / step - 1e-9) * step;
  for (double t = -s.yLimit; t <= s.yLimit + step / 2; t += step) s.yTicks.push_back(std::fabs(t) < step / 1e6 ? 0 : t);
  return s;
}

std::string errorChartSvg(const std::vector<PointRecord>& points, double base, bool transformer) {
  ChartScale s = chartScale(points, base);
  if (s.yLimit == 0) return "";
  auto X = [&](double x) {
    return kLeft + (std::log10(x) - std::log10(s.xLow)) / (std::log10(s.xHigh) - std::log10(s.xLow)) * (kRight - kLeft);
  };
  auto Y = [&](double v) {
    double c = std::max(-s.yLimit, std::min(s.yLimit, v));
    return kTop + (s.yLimit - c) / (2 * s.yLimit) * (kBottom - kTop);
  };
  auto xOf = [&](const PointRecord& p) { return X(base > 0 ? p.I / base : p.I); };
  std::string out;
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %.0f %.0f\" "
                "role=\"img\" aria-label=\"Погрешность каналов в зависимости от тока\">\n",
                kWidth, kHeight);
  out += buf;
  out += "<style>text { font: 10px sans-serif; fill: #000; } .axis { stroke: #000; stroke-width: 1; fill: none; } "
         ".grid { stroke: #bbb; stroke-width: 0.5; } .band { fill: #000; fill-opacity: 0.08; stroke: none; }</style>\n";

  // The groups: one line per power factor, load and phases.
  std::map<std::string, std::vector<const PointRecord*>> groups;
  std::vector<std::string> order;
  for (const PointRecord& p : points) {
    if (!drawn(p)) continue;
    std::string key = groupName(p);
    if (groups.find(key) == groups.end()) order.push_back(key);
    groups[key].push_back(&p);
  }
  for (auto& [key, list] : groups)
    std::stable_sort(list.begin(), list.end(), [](const PointRecord* a, const PointRecord* b) { return a->I < b->I; });

  // The bands of the permitted error, under everything else.
  // A limit holds from its point halfway (on the axis) to the next one, so
  // a change of range shows as a step.
  for (const std::string& key : order) {
    std::vector<std::pair<double, double>> at;  // (x, limit) of the judged points
    for (const PointRecord* p : groups[key]) {
      double lim = limitOf(*p);
      if (lim >= 0) at.emplace_back(xOf(*p), lim);
    }
    if (at.empty()) continue;
    std::string upper, lower;
    for (size_t k = 0; k < at.size(); ++k) {
      double from = k == 0 ? at[k].first - 4 : (at[k - 1].first + at[k].first) / 2;
      double to = k + 1 == at.size() ? at[k].first + 4 : (at[k].first + at[k + 1].first) / 2;
      std::snprintf(buf, sizeof buf, "%.1f,%.1f %.1f,%.1f ", from, Y(at[k].second), to, Y(at[k].second));
      upper += buf;
      std::snprintf(buf, sizeof buf, "%.1f,%.1f %.1f,%.1f ", to, Y(-at[k].second), from, Y(-at[k].second));
      lower.insert(0, buf);
    }
    out += "<polygon class=\"band\" points=\"" + upper + lower + "\"/>\n";
  }
  // Grid and axes.
  for (double t : s.yTicks) {
    std::snprintf(buf, sizeof buf, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>", kLeft, Y(t),
                  kRight, Y(t));
    out += buf;
    std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">", kLeft - 4, Y(t) + 3);
    out += buf + num(t, s.yLimit < 1 ? 2 : s.yLimit < 10 ? 1 : 0) + "</text>\n";
  }
  for (double t : s.xTicks) {
    std::snprintf(buf, sizeof buf, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>", X(t), kTop,
                  X(t), kBottom);
    out += buf;
    std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", X(t), kBottom + 13);
    out += buf + shortNumber(t) + "</text>\n";
  }
  std::snprintf(buf, sizeof buf, "<rect class=\"axis\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>\n", kLeft,
                kTop, kRight - kLeft, kBottom - kTop);
  out += buf;
  std::snprintf(buf, sizeof buf, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", kLeft, Y(0),
                kRight, Y(0));
  out += buf;
  std::string xName = base > 0 ? (transformer ? "I / Iном" : "I / Iб") : "I, А";
  std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">", kRight, kBottom + 27);
  out += buf + escaped(xName) + "</text>\n";
  std::snprintf(buf, sizeof buf,
                "<text x=\"12\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(-90 12 %.1f)\">"
                "погрешность, %%</text>\n",
                (kTop + kBottom) / 2, (kTop + kBottom) / 2);
  out += buf;

  // The lines and their points; a value outside its band is marked ×.
  auto mark = [&](int channel, double x, double y) {
    char m[192];
    if (channel == 0) std::snprintf(m, sizeof m, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.6\"", x, y);
    else if (channel == 1) std::snprintf(m, sizeof m, "<rect x=\"%.1f\" y=\"%.1f\" width=\"5\" height=\"5\"", x - 2.5, y - 2.5);
    else std::snprintf(m, sizeof m, "<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\"", x, y - 3.2, x + 3, y + 2.4, x - 3, y + 2.4);
    return std::string(m) + " fill=\"" + (channel == 1 ? "#fff" : kChannelGrey[channel]) + "\" stroke=\"" +
           kChannelGrey[channel] + "\"/>";
  };
  for (size_t g = 0; g < order.size(); ++g) {
    const char* dash = kDashes[g % (sizeof kDashes / sizeof kDashes[0])];
    for (int n = 0; n < 3; ++n) {
      std::string line;
      for (const PointRecord* p : groups[order[g]]) {
        if (!p->channelFresh[n] || !std::isfinite(p->channel[n])) continue;
        std::snprintf(buf, sizeof buf, "%.1f,%.1f ", xOf(*p), Y(p->channel[n]));
        line += buf;
      }
      if (line.empty()) continue;
      out += std::string("<polyline fill=\"none\" stroke=\"") + kChannelGrey[n] + "\" stroke-width=\"1.2\"" +
             (*dash != '\0' ? std::string(" stroke-dasharray=\"") + dash + "\"" : "") + " points=\"" + line + "\"/>\n";
      for (const PointRecord* p : groups[order[g]]) {
        if (!p->channelFresh[n] || !std::isfinite(p->channel[n])) continue;
        double x = xOf(*p), y = Y(p->channel[n]);
        out += mark(n, x, y);
        // Marked where the point failed, on each channel the decision rule
        // finds outside the limit.
        int64_t limit = 0;
        bool outside = p->state == PointState::Failed && parseLimit(p->limit, &limit) &&
                       metrology::outsideLimit(p->channel[n], limit);
        if (outside) {
          std::snprintf(buf, sizeof buf,
                        "<path d=\"M%.1f %.1fL%.1f %.1fM%.1f %.1fL%.1f %.1f\" stroke=\"#c00\" stroke-width=\"2\"/>",
                        x - 6, y - 6, x + 6, y + 6, x - 6, y + 6, x + 6, y - 6);
          out += buf;
        }
      }
      out += "\n";
    }
  }

  // The legend: the line of each group, the mark of each channel.
  double ly = kBottom + 42;
  double lx = kLeft;
  for (size_t g = 0; g < order.size(); ++g) {
    const char* dash = kDashes[g % (sizeof kDashes / sizeof kDashes[0])];
    if (lx > kRight - 150) {
      lx = kLeft;
      ly += 14;
    }
    std::snprintf(buf, sizeof buf, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#000\" stroke-width=\"1.2\"%s%s%s/>",
                  lx, ly - 3, lx + 26, ly - 3, *dash ? " stroke-dasharray=\"" : "", dash, *dash ? "\"" : "");
    out += buf;
    std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%.1f\">", lx + 30, ly);
    out += buf + escaped(order[g]) + "</text>\n";
    lx += 150;
  }
  ly += 16;
  lx = kLeft;
  for (int n = 0; n < 3; ++n) {
    out += mark(n, lx + 4, ly - 3);
    std::snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%.1f\">канал %d</text>", lx + 12, ly, n + 1);
    out += buf;
    lx += 80;
  }
  std::snprintf(buf, sizeof buf,
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"14\" height=\"8\" class=\"band\"/><text x=\"%.1f\" y=\"%.1f\">"
                "допуск</text>",
                lx, ly - 8, lx + 18, ly);
  out += buf;
  lx += 80;
  std::snprintf(buf, sizeof buf,
                "<path d=\"M%.1f %.1fL%.1f %.1fM%.1f %.1fL%.1f %.1f\" stroke=\"#c00\" stroke-width=\"2\"/>"
                "<text x=\"%.1f\" y=\"%.1f\">вне допуска</text>\n",
                lx, ly - 8, lx + 8, ly, lx, ly, lx + 8, ly - 8, lx + 14, ly);
  out += buf;
  out += "</svg>\n";
  // (Taller when the legend takes more rows.)
  if (ly + 8 > kHeight) {
    std::snprintf(buf, sizeof buf, "viewBox=\"0 0 %.0f %.0f\"", kWidth, kHeight);
    std::string from = buf;
    std::snprintf(buf, sizeof buf, "viewBox=\"0 0 %.0f %.0f\"", kWidth, ly + 8);
    size_t at = out.find(from);
    if (at != std::string::npos) out.replace(at, from.size(), buf);
  }
  return out;
}

}  // namespace qs::records
