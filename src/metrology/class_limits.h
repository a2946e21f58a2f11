// The permitted errors of a meter by its accuracy class: rows of the
// standards' tables (each with its standard and table), rows a laboratory
// gives from its own copy of a standard (QS_ADD/classes.sch), and the rule
// that picks the row of a verification point. Nothing else in the program
// knows a class figure.
#pragma once
#include <string>
#include <vector>

namespace qs::metrology {

// How the meter's current circuits are loaded at a point: all phases alike,
// or one current circuit with every voltage applied.
enum class Loading { Balanced, OnePhase };

// The meters a row is for: a built-in row gives its range for both
// connections; a laboratory's row is for one of them.
enum class Connection { Both, Direct, Transformer };

// One row of a table: a current range (in shares of Ib for a meter
// connected directly, of In for one through transformers; an upper bound of
// 0 is Imax), a power factor and its load character ('N' for unity, 'L'
// inductive, 'C' capacitive), and the limit in percent of the reading as
// the table prints it.
struct ClassRow {
  std::string standard;  // "ГОСТ 31819.21-2012, табл. 6"
  std::string meterClass;  // as classKey() writes it: "1", "0.5S"
  bool active;           // active energy (reactive rows: sin φ in `pf`)
  Loading loading;
  double lowDirect, lowTransformer;  // lower bound, included when lowIncluded
  bool lowIncluded;
  double highDirect, highTransformer;  // upper bound (0: Imax), included when highIncluded
  bool highIncluded;
  double pf;
  char character;
  std::string limit;  // "1,5"
  // A laboratory's row: the connection it is for and where it was written
  // ("classes.sch:7"); a built-in row: Both and "".
  Connection connection = Connection::Both;
  std::string origin = {};
};

// Every row the program knows, for a reader to check against the standards.
const std::vector<ClassRow>& classRows();

// Whether two rows speak of one class and condition: the same class,
// energy and loading, the same power factor (a row without a load letter
// meets both letters), and a connection both are for. The current ranges
// are not compared.
bool sameCondition(const ClassRow& a, const ClassRow& b);

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
// таблицах активной энергии", ...). The laboratory's rows `labRows` are
// looked at after the built-in ones (they never share a condition with
// them: see sameCondition).
const ClassRow* pickRow(const std::string& meterClass, const PointCondition& point, std::string* why);
const ClassRow* pickRow(const std::string& meterClass, const PointCondition& point,
                        const std::vector<ClassRow>& labRows, std::string* why);

// Where a reader of a protocol finds the row: "класс 1, ГОСТ 31819.21-2012,
// табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1"; a laboratory's row as it cited it,
// and its line: "<its source>, aIном ≤ I ≤ Imax, cos φ = 1 (classes.sch:7)".
std::string rowSource(const ClassRow& row, bool transformer);

// The current range of a row as a table writes it: "0,05Iном ≤ I ≤ Imax".
std::string rangeText(const ClassRow& row, bool transformer);
// Its power factor: "cos φ = 0,5 L" (reactive rows: "sin φ = ...").
std::string powerFactorText(const ClassRow& row);

}  // namespace qs::metrology
