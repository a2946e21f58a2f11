// The limit rows a laboratory gives from its own copy of a standard
// ("classes.sch" beside the other settings: a `Row:` line each), for the
// classes and conditions the built-in tables do not hold (0,5S, 0,2S,
// reactive energy, ...). The program never carries such a figure itself:
// the laboratory writes it with the standard and table it comes from.
//
// Row:<text><TAB>source<TAB>energy<TAB>class<TAB>connection<TAB>current<TAB>
//   power factor<TAB>loading<TAB>limit, %<TAB>
//
//   source        the standard and table as the laboratory cites them
//   energy        "активная" or "реактивная"
//   class         "0,5S", "0,2S", "1", ...
//   connection    "прямое" (currents in shares of Ib) or "тт" (of In)
//   current       "a ≤ I < b": each bound a share, "≤" (or "<=") where it
//                 belongs to the row, "<" where not; the upper one may be
//                 Imax (Iмакс); a share may carry its base ("0,05Iном",
//                 "0,1Iб")
//   power factor  cos φ (sin φ for reactive energy) and its load letter:
//                 "1", "0,5 L", "0,8 C"
//   loading       "все фазы" (balanced) or "одна фаза" (one current circuit)
//   limit         the permitted error in percent ("0,5", at most three
//                 decimals)
#pragma once
#include <string>
#include <vector>

#include "metrology/class_limits.h"

namespace qs {

struct LabClassRows {
  bool opened = false;
  // Every row of the file when none was refused (origin "classes.sch:7").
  std::vector<metrology::ClassRow> rows;
  // What was refused, each naming the file, its line(s) and the field:
  // "строка 7 файла QS_ADD/classes.sch: ток «0,05 ≤ I»: ...".
  std::vector<std::string> errors;
};

// Reads `path` and checks its rows: each field, then the rows together (a
// row for a class and condition the built-in tables hold; two rows of one
// class and condition whose currents overlap, or that leave currents
// between them without a row). A file that cannot be opened has no rows
// and no errors.
LabClassRows readClassRows(const std::string& path);

// Why no run may start with these rows ("" when one may): the first error,
// how many there are, and "Поверка невозможна.".
std::string classRowsRefusal(const LabClassRows& file);


}  // namespace qs
