#include "metrology/class_limits.h"
#include "console/bytes.h"
#include "console/number_text.h"

#include <cmath>
#include <cstdio>

namespace qs::metrology {
namespace {

constexpr bool kActive = true;
constexpr Loading kBalanced = Loading::Balanced;
constexpr Loading kOnePhase = Loading::OnePhase;
constexpr double kImax = 0;

// The tables. A row is here only where its figure was read in the
// standard's own text; rows of the tables that could not be read (the
// special-request power factors, classes 0,2S and 0,5S, reactive energy)
// are left out, and a point they would judge is not judged.
//
// ГОСТ 31819.21-2012 (IEC 62053-21:2003), table 6: single-phase meters and
// polyphase meters with balanced load. Class 2 has no limit at 0,8 C.
// IEC 62053-21:2003, table 7: polyphase meters with one current circuit
// loaded and balanced voltages on every voltage circuit.
const std::vector<ClassRow> kRows = {
    //  standard                             class active   loading    low: Ib    In    incl  high: Ib   In    incl   pf  char limit
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.05, 0.02, true, 0.1, 0.05, false, 1.0, 'N', "1,5"},
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.1, 0.05, true, kImax, kImax, true, 1.0, 'N', "1,0"},
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.1, 0.05, true, 0.2, 0.1, false, 0.5, 'L', "1,5"},
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.1, 0.05, true, 0.2, 0.1, false, 0.8, 'C', "1,5"},
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.2, 0.1, true, kImax, kImax, true, 0.5, 'L', "1,0"},
    {"ГОСТ 31819.21-2012, табл. 6", "1", kActive, kBalanced, 0.2, 0.1, true, kImax, kImax, true, 0.8, 'C', "1,0"},
    {"ГОСТ 31819.21-2012, табл. 6", "2", kActive, kBalanced, 0.05, 0.02, true, 0.1, 0.05, false, 1.0, 'N', "2,5"},
    {"ГОСТ 31819.21-2012, табл. 6", "2", kActive, kBalanced, 0.1, 0.05, true, kImax, kImax, true, 1.0, 'N', "2,0"},
    {"ГОСТ 31819.21-2012, табл. 6", "2", kActive, kBalanced, 0.1, 0.05, true, 0.2, 0.1, false, 0.5, 'L', "2,5"},
    {"ГОСТ 31819.21-2012, табл. 6", "2", kActive, kBalanced, 0.2, 0.1, true, kImax, kImax, true, 0.5, 'L', "2,0"},
    {"IEC 62053-21:2003, табл. 7", "1", kActive, kOnePhase, 0.1, 0.05, true, kImax, kImax, true, 1.0, 'N', "2,0"},
    {"IEC 62053-21:2003, табл. 7", "1", kActive, kOnePhase, 0.2, 0.1, true, kImax, kImax, true, 0.5, 'L', "2,0"},
    {"IEC 62053-21:2003, табл. 7", "2", kActive, kOnePhase, 0.1, 0.05, true, kImax, kImax, true, 1.0, 'N', "3,0"},
    {"IEC 62053-21:2003, табл. 7", "2", kActive, kOnePhase, 0.2, 0.1, true, kImax, kImax, true, 0.5, 'L', "3,0"},
};

// Currents are set as a share of a nominal value: a share computed as
// 5 A × 10 % / 5 A must meet the bound 0,1 however the product rounds.
constexpr double kSlack = 1e-9;

std::string number(double v) { return decimalComma(v); }
// A class as a reader writes it: "0,5S".
std::string number(const std::string& meterClass) {
  std::string out = meterClass;
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}

std::string pfText(double pf, char character) {
  std::string out = number(pf);
  if (character == 'L' || character == 'C') out += std::string(" ") + character;
  return out;
}

bool samePf(const ClassRow& r, const PointCondition& p) {
  if (std::fabs(std::fabs(p.pf) - r.pf) > 0.005) return false;
  return r.character == 'N' || p.character == r.character;
}

}  // namespace

const std::vector<ClassRow>& classRows() { return kRows; }

bool sameCondition(const ClassRow& a, const ClassRow& b) {
  if (a.meterClass != b.meterClass || a.active != b.active || a.loading != b.loading) return false;
  if (std::fabs(a.pf - b.pf) > 0.005) return false;
  if (a.character != b.character && a.character != 'N' && b.character != 'N') return false;
  return a.connection == Connection::Both || b.connection == Connection::Both || a.connection == b.connection;
}

const ClassRow* pickRow(const std::string& meterClass, const PointCondition& p, std::string* why) {
  static const std::vector<ClassRow> none;
  return pickRow(meterClass, p, none, why);
}

const ClassRow* pickRow(const std::string& meterClass, const PointCondition& p, const std::vector<ClassRow>& labRows,
                        std::string* why) {
  const char* base = p.transformer ? "Iном" : "Iб";
  if (!(p.base > 0) || !(p.imax > 0)) {
    if (why != nullptr) *why = std::string("не задан ") + base + " или Imax";
    return nullptr;
  }
  if (p.current > p.imax * (1 + kSlack)) {
    if (why != nullptr) *why = "ток выше Imax";
    return nullptr;
  }
  double share = p.current / p.base;
  bool classKnown = false, pfKnown = false;
  // The lowest and the highest bound of the rows of the point's condition
  // (a laboratory's rows need not reach Imax).
  const ClassRow* lowest = nullptr;
  const ClassRow* highest = nullptr;
  auto lowOf = [&](const ClassRow& r) { return p.transformer ? r.lowTransformer : r.lowDirect; };
  auto highOf = [&](const ClassRow& r) { return p.transformer ? r.highTransformer : r.highDirect; };
  for (const std::vector<ClassRow>* table : {&kRows, &labRows}) {
    for (const ClassRow& r : *table) {
      if (meterClass != r.meterClass || r.active != p.active) continue;
      if (r.connection != Connection::Both && (r.connection == Connection::Transformer) != p.transformer) continue;
      classKnown = true;
      if (r.loading != p.loading || !samePf(r, p)) continue;
      pfKnown = true;
      double low = lowOf(r), high = highOf(r);
      if (lowest == nullptr || low < lowOf(*lowest)) lowest = &r;
      if (highest == nullptr || (highOf(*highest) != kImax && (high == kImax || high > highOf(*highest))))
        highest = &r;
      bool aboveLow = r.lowIncluded ? share >= low * (1 - kSlack) : share > low * (1 + kSlack);
      bool belowHigh = high == kImax ? r.highIncluded || p.current < p.imax * (1 - kSlack)
                                     : r.highIncluded ? share <= high * (1 + kSlack) : share < high * (1 - kSlack);
      if (aboveLow && belowHigh) return &r;
    }
  }
  if (why != nullptr) {
    if (!classKnown) *why = std::string("нет в таблицах ") + (p.active ? "активной" : "реактивной") + " энергии";
    else if (!pfKnown)
      *why = (p.active ? "cos φ = " : "sin φ = ") + pfText(std::fabs(p.pf), p.character) + " не задан для класса " +
             number(meterClass) + (p.loading == Loading::OnePhase ? " при нагрузке одной фазы" : "");
    else if (highOf(*highest) == kImax ? !highest->highIncluded && p.current >= p.imax * (1 - kSlack)
                                       : share >= highOf(*highest) * (1 - kSlack))
      *why = std::string(highest->highIncluded ? "ток выше " : "ток не ниже ") +
             (highOf(*highest) == kImax ? std::string("Imax") : number(highOf(*highest)) + base);
    else if (share <= lowOf(*lowest) * (1 + kSlack))
      *why = std::string(lowest->lowIncluded ? "ток ниже " : "ток не выше ") + number(lowOf(*lowest)) + base;
    else
      *why = "ток между строками таблицы";
  }
  return nullptr;
}

std::string rangeText(const ClassRow& r, bool transformer) {
  const char* base = transformer ? "Iном" : "Iб";
  double low = transformer ? r.lowTransformer : r.lowDirect;
  double high = transformer ? r.highTransformer : r.highDirect;
  std::string out = number(low) + base + (r.lowIncluded ? " ≤ I " : " < I ");
  out += high == kImax ? std::string(r.highIncluded ? "≤ Imax" : "< Imax")
                       : std::string(r.highIncluded ? "≤ " : "< ") + number(high) + base;
  return out;
}

std::string powerFactorText(const ClassRow& r) {
  return std::string(r.active ? "cos φ = " : "sin φ = ") + pfText(r.pf, r.character);
}

std::string rowSource(const ClassRow& r, bool transformer) {
  std::string loading = r.loading == Loading::OnePhase ? ", нагрузка одной фазы" : "";
  if (!r.origin.empty()) {
    // A laboratory's row: its source as written, its range in its own
    // connection's terms, and its line.
    bool own = r.connection == Connection::Both ? transformer : r.connection == Connection::Transformer;
    return r.standard + ", " + rangeText(r, own) + ", " + powerFactorText(r) + loading + " (" + r.origin + ")";
  }
  return "класс " + number(r.meterClass) + ", " + r.standard + ", " + rangeText(r, transformer) + ", " + powerFactorText(r) +
         loading;
}

}  // namespace qs::metrology
