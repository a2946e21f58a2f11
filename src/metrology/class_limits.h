// The permitted errors of a meter by its accuracy class: rows of the
// standards' tables (each with its standard and table), and the rule that
// picks the row of a verification point. Nothing else in the program knows
// a class figure.
#pragma once
#include <string>
#include <vector>

namespace qs::metrology {

// How the meter's current circuits are loaded at a point: all phases alike,
// or one current circuit with every voltage applied.
enum class Loading { Balanced, OnePhase };

// One row of a table: a current range (in shares of Ib for a meter
// connected directly, of In for one through transformers; an upper bound of
// 0 is Imax), a power factor and its load character ('N' for unity, 'L'
// inductive, 'C' capacitive), and the limit in percent of the reading as
// the table prints it.
struct ClassRow {
  const char* standard;  // "ГОСТ 31819.21-2012, табл. 6"
  const char* meterClass;
  bool active;           // active energy (reactive rows: sin φ in `pf`)
  Loading loading;
  double lowDirect, lowTransformer;  // lower bound, included when lowIncluded
  bool lowIncluded;
  double highDirect, highTransformer;  // upper bound (0: Imax), included when highIncluded
  bool highIncluded;
  double pf;
  char character;
  const char* limit;  // "1,5"
};

// Every row the program knows, for a reader to check against the standards.
const std::vector<ClassRow>& classRows();

// A verification point as the tables see it.
struct PointCondition {
  bool active = true;
  bool transformer = false;  // through transformers: shares of In
  double current = 0;        // A
  double base = 0;           // Ib or In, A
  double imax = 0;           // A
  double pf = 1;
  char character = 'N';      // 'N', 'L' or 'C'
  Loading loading = Loading::Balanced;
};

// The row of `meterClass` for the point, or null with why none applies
// (*why: "ток ниже 0,05Iб", "cos φ = 0,25 L не задан для класса 1", "нет в
// таблицах активной энергии", ...).
const ClassRow* pickRow(const std::string& meterClass, const PointCondition& point, std::string* why);

// Where a reader of a protocol finds the row: "класс 1, ГОСТ 31819.21-2012,
// табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1".
std::string rowSource(const ClassRow& row, bool transformer);

}  // namespace qs::metrology
