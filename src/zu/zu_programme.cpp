// Verification programmes: key lines in the settings files name the
// programme files, whose lines are the test points.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "console/bytes.h"
#include "console/console.h"
#include "console/text_file.h"
#include "platform/path.h"
#include "records/results_db.h"
#include "settings/key_lines.h"
#include "settings/meter_types.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

// TAB-separated fields of a line, each with whether a TAB ended it.
struct Fields {
  std::vector<std::string> text;
  std::vector<bool> tabbed;
};

Fields splitFields(const std::string& line, size_t from) {
  Fields f;
  size_t at = from;
  for (;;) {
    size_t tab = line.find('\t', at);
    if (tab == std::string::npos) {
      size_t end = line.find('\n', at);
      f.text.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
      f.tabbed.push_back(false);
      return f;
    }
    f.text.push_back(line.substr(at, tab - at));
    f.tabbed.push_back(true);
    at = tab + 1;
  }
}

int phasesFromText(const std::string& field, int previous) {
  if (field.find_first_of("01234567") != std::string::npos) {
    static const int kByMask[8] = {kPhaseABC, kPhaseA, kPhaseB, kPhaseAB, kPhaseC, kPhaseAC, kPhaseBC, kPhaseABC};
    long n = decimalValue(field) % 8;
    return kByMask[n < 0 ? n + 8 : n];
  }
  if (field.find_first_of("ABCabc") != std::string::npos) {
    std::string up;
    for (char c : field)
      if (!std::isspace(static_cast<unsigned char>(c))) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up == "A") return kPhaseA;
    if (up == "B") return kPhaseB;
    if (up == "C") return kPhaseC;
    if (up == "ABC") return kPhaseABC;
    if (up == "AC") return kPhaseAC;
    if (up == "AB") return kPhaseAB;
    if (up == "BC") return kPhaseBC;
  }
  return previous;
}

// A programme's numbers as written, with a decimal comma or point; what is
// wrong with the first that is not one ("cos φ «0,5x»"), "" when all are.
// An empty field is a number nobody wrote, except where the line ends with
// it (nothing but blanks after it): the line is then short, and what it does
// not give stays zero.
std::string readPointFields(const std::vector<std::string>& f, TestPoint* p) {
  size_t n = f.size();
  size_t given = 0;  // fields up to the last one that holds something
  for (size_t i = 0; i < n; ++i)
    if (!trimmed(f[i]).empty()) given = i + 1;
  static const char* const kNames[5] = {"U", "U, %", "I", "I, %", "cos φ"};
  double* const kInto[5] = {&p->U, &p->Upct, &p->I, &p->Ipct, &p->PF};
  for (size_t i = 0; i < 5 && i < given; ++i) {
    std::optional<double> v = decimalNumber(f[i]);
    if (!v) return fieldShown(kNames[i], f[i]);
    if (i == 4 ? std::fabs(*v) > 1 : *v < 0)
      return fieldShown(kNames[i], f[i]) + (i == 4 ? ": вне −1…1" : ": меньше нуля");
    *kInto[i] = *v;
  }
  if (n >= 6) {
    char letter = f[5].empty() ? '\0' : f[5][0];
    p->loadType = letter == 'C' ? kLoadCapacitive : letter == 'N' ? kLoadNone : kLoadInductive;
    if (std::fabs(p->PF) == 1.0) p->loadType = kLoadNone;
  }
  // The three fields after the load letter carry nothing a point is set or
  // judged by; an empty one is zero, as it always was, but text in one must
  // still be a number.
  for (size_t i = 6; i < 9 && i < n; ++i) {
    if (trimmed(f[i]).empty()) continue;
    std::optional<double> v = decimalNumber(f[i]);
    std::string name = "поле " + std::to_string(i + 1);
    if (!v || (i == 6 && (*v != std::floor(*v) || std::fabs(*v) > 2147483647.0)))
      return fieldShown(name, f[i]) + (v ? ": не целое" : "");
    if (i == 6) p->auxInt = static_cast<int32_t>(*v);
    else (i == 7 ? p->auxReal1 : p->auxReal2) = *v;
  }
  if (n >= 9) p->phases = kPhaseABC;
  if (n >= 10) p->phases = static_cast<uint8_t>(phasesFromText(f[9], kPhaseABC));
  if (n >= 11) p->limit = trimmed(f[10]);
  // A limit that is there but not a number would judge nothing: the
  // programme is refused rather than run without it.
  if (!p->limit.empty()) {
    std::string problem = records::limitProblem(p->limit);
    if (!problem.empty()) return fieldShown("допуск", p->limit) + ": " + problem;
  }
  return "";
}

}  // namespace

int ZuController::loadProgramme(const std::string& settingsPath, const std::string& key, int identity, int variant,
                                int group) {
  if (variant == 3) variant = 0;
  bool portKey = sameKey(key, "Port_ZU");
  bool byGroup = sameKey(key, "Ver_Vrf");
  if (!portKey) {
    testPoints.clear();
    testPointCount = 0;
    currentTestPoint = nullptr;
  }
  if (sync != nullptr) sync->setProgrammeVariant(variant);
  programmeGroup = static_cast<uint8_t>(group);

  programmeError.clear();
  std::vector<KeyLine> lines;
  if (!readKeyLines(settingsPath, key, KeyForm::Plain, &lines)) return -1;
  int filter = group;
  std::string fileName;
  bool matched = false;
  for (const KeyLine& k : lines) {
    // The text up to the first TAB is skipped; o, t, u and the title each
    // end at a TAB.
    if (k.pieces.size() < 6) continue;
    std::vector<std::string> f;
    for (size_t i = 1; i < k.pieces.size(); ++i) f.push_back(k.pieces[i].text);
    int o = static_cast<int8_t>(decimalValue(f[0]));
    int t = static_cast<int8_t>(decimalValue(f[1]));
    int u = static_cast<int8_t>(decimalValue(f[2]));
    if (o * 65536 + t * 256 + u != identity) continue;
    size_t column = static_cast<size_t>(byGroup ? group + 1 : variant + 1);
    if (byGroup) filter = 1;
    // The options among the files (the meter type, the measuring) take no
    // column.
    std::vector<std::string> columns;
    for (size_t i = 0; i < f.size(); ++i)
      if (i < 4 || !isProgrammeOption(f[i])) columns.push_back(f[i]);
    size_t index = 3 + column;  // field 4 + column, counted from 0 as field 1
    if (index >= columns.size()) index = columns.size() - 1;
    fileName = columns[index];
    matched = true;
    break;
  }
  if (!matched) return -2;

  // Programme files stand beside the settings file that names them.
  size_t sep = settingsPath.find_last_of("/\\");
  std::string path = sep == std::string::npos ? fileName : settingsPath.substr(0, sep + 1) + fileName;
  path = platform::withSeparators(path);
  if (byGroup) {
    Console::gotoXY(0, 16);
    Console::print("Name Load File: %s", path.c_str());
  }

  std::vector<std::string> programme;
  if (!readSettingsLines(path, programme)) return -3;
  programmeFile = path;
  static const double kNominal[3] = {57.0, 220.0, 127.0};
  int32_t nextLine = 1;
  for (const std::string& line : programme) {
    int32_t lineNumber = nextLine;
    if (!line.empty() && line.back() == '\n') ++nextLine;  // (a long line comes in pieces)
    if (line.empty() || line == "\n" || isCommentLine(line)) continue;
    if (line.find('A') == std::string::npos) continue;
    size_t underscore = line.find('_', 1);
    if (underscore == std::string::npos) continue;
    long lineGroup = decimalValue(std::string_view(line).substr(1, underscore - 1));
    if (filter != 0 && static_cast<uint8_t>(lineGroup) != static_cast<uint8_t>(filter)) continue;
    size_t tab = line.find('\t', underscore + 1);
    if (tab == std::string::npos) continue;
    TestPoint p;
    p.number = static_cast<int32_t>(decimalValue(std::string_view(line).substr(underscore + 1, tab - underscore - 1)));
    p.phases = 0;
    p.sourceLine = lineNumber;
    Fields f = splitFields(line, tab + 1);
    std::string why = readPointFields(f.text, &p);
    if (!why.empty()) {
      programmeError = "Ошибка в строке " + std::to_string(lineNumber) + " программы " + path + ": " + why;
      testPoints.clear();
      return -4;
    }
    if (byGroup && variant >= 0 && variant <= 2) p.U = kNominal[variant];
    testPoints.push_back(p);
  }
  if (testPoints.empty()) return -1;
  testPointCount = static_cast<int32_t>(testPoints.size());
  if (isSlave()) return sync->postLoad(key, identity, variant, group);
  return 0;
}

int ZuController::readPortSetting(const std::string& settingsPath, uint8_t* out) {
  if (out == nullptr) return -22;
  std::vector<KeyLine> lines;
  if (!readKeyLines(settingsPath, "Port_ZU", KeyForm::Plain, &lines)) return -1;
  out[0] = 0;
  out[1] = 0;  // no Port_ZU line: automatic work off
  for (const KeyLine& k : lines) {
    // The port and the flag, each ended by a TAB, after the text up to the
    // first TAB.
    if (k.pieces.size() < 4) continue;
    out[0] = static_cast<uint8_t>(decimalValue(k.pieces[1].text));
    out[1] = static_cast<uint8_t>(decimalValue(k.pieces[2].text));
  }
  return 0;
}

}  // namespace qs
