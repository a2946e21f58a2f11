// What a verification protocol says of the laboratory and its reference
// installation: the `Lab:` and `Ref:` lines of common.sch, and the working
// folder's record of the day's conditions and of the operator.
#pragma once
#include <string>

namespace qs {

// A range of a condition as the method sets it ("15-25"); none when not
// given.
struct Bounds {
  bool given = false;
  double low = 0, high = 0;
  bool holds(double v) const { return !given || (v >= low && v <= high); }
};

// Lab:<TAB>name<TAB>address<TAB>accreditation<TAB>method document<TAB>
// temperature °C<TAB>humidity %<TAB>pressure kPa<TAB> (the last three as
// "min-max", each optional).
struct Laboratory {
  bool given = false;
  std::string name, address, accreditation, method;
  Bounds temperature, humidity, pressure;
};

// Ref:<TAB>model<TAB>serial number<TAB>calibration due date (YYYY-MM-DD)<TAB>
//   [number in the federal information fund<TAB>]
struct Reference {
  bool given = false;
  std::string model, serial, due;
  std::string fundNumber;  // "20189.07.РЭ.01351", "" when not given
};

// Registry:<TAB>sign cipher<TAB>mark in the passport (1/0)<TAB>mark on the
// meter (1/0)<TAB>: what the national registry's record of each
// verification says of the laboratory's mark.
struct Registry {
  bool given = false;
  std::string cipher;  // 1 to 3 capital letters А–Я
  bool signPass = false, signMi = false;
};

// Stand:<TAB>code<TAB>: this stand's code in a laboratory of several (1 to 8
// letters or digits), put before its protocol numbers ("С2-000123").
struct Stand {
  bool given = false;
  std::string code;
};

// The lines of `path` (*out untouched when there is none); false, with
// what is wrong ("строка 12 файла QS_ADD/common.sch: Ref, срок поверки
// «2026-02-31»"), for one that does not parse.
bool readLaboratory(const std::string& path, Laboratory* out, std::string* problem);
bool readReference(const std::string& path, Reference* out, std::string* problem);
bool readRegistry(const std::string& path, Registry* out, std::string* problem);
bool readStand(const std::string& path, Stand* out, std::string* problem);
// Whether a text is a sign cipher the registry takes: 1 to 3 capital
// letters А–Я (not Ё, not Latin).
bool isSignCipher(const std::string& text);
// Whether a text is a stand's code: 1 to 8 letters (Latin or Cyrillic) or
// digits.
bool isStandCode(const std::string& text);

// "15-25" (a hyphen or an en dash, decimal comma or point) to bounds.
bool parseBounds(const std::string& text, Bounds* out);
// "15–25" for the records and the protocol ("" when not given).
std::string boundsText(const Bounds& b);

// The conditions of a day, as the operator entered them.
struct Conditions {
  std::string date;  // YYYY-MM-DD, local
  bool known = false;
  double temperature = 0, humidity = 0, pressure = 0;
};
// The ranges a condition must be in to be taken at all: no laboratory
// works outside them (the method's own bounds are narrower, and checked
// apart).
struct ConditionRange {
  const char* name;  // "Температура"
  const char* unit;  // "°C"
  double low, high;
};
extern const ConditionRange kConditionRanges[3];  // temperature, humidity, pressure
// The three values of `c` in that order.
double conditionValue(const Conditions& c, int which);
// Whether every value of `c` is in its range.
bool conditionsPlausible(const Conditions& c);
// A condition's value as the forms and the protocol show it: as typed, with
// a decimal comma ("21,5", "55").
std::string conditionShown(double v);
// "Условия: 21,5 °C, 55 %, 99,8 кПа".
std::string conditionsEcho(const Conditions& c);

// The file of the working folder that keeps the day's conditions.
constexpr const char* kConditionsFileName = "conditions.txt";
// The last conditions entered in this working folder ("conditions.txt"):
// not known when the file holds no date and three numbers in their ranges.
Conditions readConditions(const std::string& path);
// Writes them, and reads them back with the same reader: false when they
// are not all in their ranges, or the file does not hold them afterwards.
bool writeConditions(const std::string& path, const Conditions& c);

// Today's local date as YYYY-MM-DD.
std::string todayText();

}  // namespace qs
