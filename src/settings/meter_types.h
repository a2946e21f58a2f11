// The meter catalogue ("meters.sch" beside the other settings: a `Meter:`
// line per type) and how a verification point is measured (the `Measure:`
// line of common.sch, or a programme's own `measure=` field).
#pragma once
#include <string>
#include <vector>

namespace qs {

struct MeterType {
  std::string name;
  std::string deviceType;      // the type text the device reports; "" for none
  std::string activeClass;     // "1", "2", "0,5S", ...
  std::string reactiveClass;   // "" when the meter has none
  bool transformer = false;    // through transformers: `base` is In, else Ib
  double base = 0;             // A
  double imax = 0;             // A
  double constant = 0;         // imp/kWh (imp/kvar·h for reactive energy)
  int intervalYears = 0;
  // The type's number in the state register of approved types ("36697-17")
  // and its modification ("" when none), "" when the line does not give them.
  std::string registerNumber, modification;
  int line = 0;                // its line in the catalogue
};

struct MeterCatalogue {
  bool opened = false;
  std::vector<MeterType> types;
  // Lines that did not parse: "meters.sch, строка 4: Imax «6O»".
  std::vector<std::string> errors;
};

// Reads `path`: every `Meter:` line, TAB-separated: name, device type text
// ("-": none), active class, reactive class ("-": none), connection
// ("прямое" or "тт"), Ib or In, Imax, constant, verification interval in
// years; then, optional, the type's number in the state register of
// approved types (1 to 32 characters) and its modification ("-": none).
MeterCatalogue readMeterCatalogue(const std::string& path);

// The type a bench verifies: the one named (a programme's `type=` field),
// else the one whose device type text is the device's. Null, with the
// message to show, when there is none ("Тип счётчика … не найден в
// meters.sch: допуски из программы").
const MeterType* findMeterType(const MeterCatalogue& catalogue, const std::string& named,
                               const std::string& deviceType, std::string* message);

// What is wrong with the catalogue as a whole ("нет файла meters.sch",
// "ошибка в meters.sch, строка 4: Imax"), "" when nothing is.
std::string catalogueNote(const MeterCatalogue& catalogue);

// A class as the tables name it: decimal point, capital S ("0,5s" -> "0.5S").
std::string classKey(const std::string& meterClass);

// How each point is measured. Without settings: one fresh value of each
// channel as soon as it comes.
struct MeasureSettings {
  bool given = false;
  double settlingSeconds = 0;  // after the point is set, before any reading
  int readings = 1;            // fresh values of each channel, averaged
  double minSeconds = 0;       // from the point set to its last reading
  double minPulses = 0;        // the meter's pulses a point should take
  // The longest from the point set to its last reading while the pulses
  // are not reached (0: ten times the minimum time).
  double maxSeconds = 0;
  double boundSeconds() const { return maxSeconds > 0 ? maxSeconds : 10 * minSeconds; }
};

// "10 3 30 25" or the TAB fields of a `Measure:` line, with the longest
// time of a point as a fifth when the line gives it: false for text that is
// not four or five numbers in their ranges (settling ≤ 600 s, 1 to 20
// readings, ≤ 3600 s, pulses ≤ 1000000, the longest time no shorter than
// the minimum and ≤ 36000 s).
bool parseMeasure(const std::string& text, MeasureSettings* out);
// The `Measure:` line of `path`: *out untouched when there is none; false,
// with what is wrong ("строка 9 файла QS_ADD/common.sch: Measure «10 3 x
// 25»"), when it does not parse.
bool readMeasureLine(const std::string& path, MeasureSettings* out, std::string* problem);
// "10 3 30 25" for the records ("" when not given).
std::string measureText(const MeasureSettings& m);

// The fields of a programme's key line after its title that are options,
// not programme files: `type=NAME`, `measure=S N M P` and
// `поверка=первичная` (or `периодическая`).
bool isProgrammeOption(const std::string& field);
// The value of option `name` among `fields`, or "" (*found false).
std::string programmeOption(const std::vector<std::string>& fields, const std::string& name, bool* found);
// The kind of verification a programme makes: 1 primary, 2 periodic (the
// default); 0 for a `поверка=` value that is neither.
int verificationKind(const std::vector<std::string>& fields);

}  // namespace qs
