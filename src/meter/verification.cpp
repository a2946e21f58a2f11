// The verification run of a bench: the test points of a programme, one
// after the other, on the reference installation (directly, or through the
// master of a stand), with the averaged value and the three channel values
// that the installation measured at each.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "console/console.h"
#include "console/text_file.h"
#include "meter/meter_menu.h"
#include "console/codepage.h"
#include "devlink/dev_link.h"
#include "platform/process.h"
#include "platform/time.h"
#include "metrology/class_limits.h"
#include "metrology/measuring.h"
#include "records/run_recorder.h"
#include "build/build_info.h"
#include "console/whole_file.h"
#include "settings/class_rows.h"
#include "settings/key_lines.h"
#include "settings/laboratory.h"
#include "settings/meter_types.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

constexpr const char* kMasterGoneText = "Программа QS_Master завершилась";

struct Programme {
  std::string key;
  int identity = 0;
  std::string title;
  std::vector<std::string> fields;  // after the title: files and options
};

// The Ver and Ver_Vrf lines of the settings, in file order.
std::vector<Programme> programmes(const std::string& path) {
  std::vector<Programme> out;
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, KeyForm::Plain, &lines)) return out;
  for (const KeyLine& k : lines) {
    if (!sameKey(k.key, "Ver") && !sameKey(k.key, "Ver_Vrf")) continue;
    // The fields after the first TAB; a last one that is empty is none.
    std::vector<std::string> f;
    for (size_t i = 1; i < k.pieces.size(); ++i)
      if (k.pieces[i].tabbed || !k.pieces[i].text.empty()) f.push_back(k.pieces[i].text);
    if (f.size() < 4) continue;
    int o = static_cast<int8_t>(decimalValue(f[0]));
    int t = static_cast<int8_t>(decimalValue(f[1]));
    int u = static_cast<int8_t>(decimalValue(f[2]));
    out.push_back(Programme{k.key, o * 65536 + t * 256 + u, f[3], std::vector<std::string>(f.begin() + 4, f.end())});
  }
  return out;
}

bool escPressed() { return Console::keyPending() && Console::readKey() == kKeyEsc; }

// A bench of its own shows the installation's panel at column 80: its run
// keeps to columns 0-79. A stand's bench has the whole width.
bool panelBeside(const ZuController& zu) { return !(zu.sync != nullptr && zu.isSlave()); }
void clearWork(const ZuController& zu, int row, int count) {
  if (panelBeside(zu)) Console::clearBeside(row, count);
  else Console::clearLinesWide(row, count);
}
size_t workCells(const ZuController& zu) { return panelBeside(zu) ? 79 : 99; }

// A number that does not fit its column shows as #s (the records keep it
// whole), so that a row never reaches into the installation's panel.
std::string inColumn(const std::string& number, int width) {
  return number.size() <= static_cast<size_t>(width) ? number : std::string(static_cast<size_t>(width), '#');
}

// A measured value in its column (at the resolution it is judged with), or
// a word saying that none came or that the installation could not measure
// it.
std::string valueText(bool fresh, double value, int width) {
  char text[48];
  if (fresh && std::isfinite(value)) std::snprintf(text, sizeof text, "%*s", width, inColumn(records::fixed3(value), width).c_str());
  else if (fresh) std::snprintf(text, sizeof text, "%*s", width + 6, "ошибка");  // six letters, twelve bytes
  else std::snprintf(text, sizeof text, "%*s", width + 3, "нет");  // three letters, six bytes
  return text;
}

// A point's state as its row shows it beside the installation's panel,
// where a row has 80 columns (the records keep the whole word).
const char* shortStateText(records::PointState state) {
  return state == records::PointState::NotMeasured ? "не изм." : records::stateText(state);
}

// The line above the table that says what the records could not take yet:
// how many points wait to be written and why; empty once all is written.
std::string recordsLine(const records::RunRecorder& recorder) {
  int waiting = recorder.waiting();
  if (waiting == 0 && !recorder.endWaiting()) return "";
  std::string problem = recorder.problem();
  std::string line = problem == records::kNewerFileText ? problem
                     : problem.empty()                  ? std::string("results.db")
                                                        : "results.db (" + problem + ")";
  if (waiting > 0) return line + ": ждут записи точек: " + std::to_string(waiting);
  return line + ": ждёт записи прогон";
}

// A channel's cell in a point's row: its mean, or why there is none.
std::string channelCell(const records::PointRecord& rec, int n, int width) {
  bool error = false;
  for (const records::Reading& g : rec.readings) error = error || (g.fresh[n] && !std::isfinite(g.channel[n]));
  return valueText(rec.channelFresh[n] || error, error ? NAN : rec.channel[n], width);
}

}  // namespace

// The line above the table: what the records could not take yet, else the
// meter the limits come from (or why none). Drawn again only when it
// changes; beside the installation's panel only its own 80 columns.
class RunTopLine {
 public:
  RunTopLine(std::string typeLine, bool besidePanel) : typeLine_(std::move(typeLine)), besidePanel_(besidePanel) {}
  void show(const records::RunRecorder& recorder) {
    std::string line = recordsLine(recorder);
    if (line.empty()) line = typeLine_;
    if (line == shown_) return;
    shown_ = line;
    ConsolePos at = Console::getCursor();
    if (besidePanel_) Console::gotoXY(0, 19);
    else Console::clearLinesWide(19, 1);
    std::string shownLine = fittedText(line, besidePanel_ ? 79 : 96);
    size_t cells = characterCount(shownLine);
    Console::setColor(kAttrWarning);
    Console::print("%s", shownLine.c_str());
    Console::setColor(kAttrNormal);
    if (besidePanel_ && cells < 79) Console::print("%s", std::string(79 - cells, ' ').c_str());
    Console::setCursor(at);
  }

 private:
  std::string typeLine_, shown_;
  bool besidePanel_;
};

namespace {

int loadedPhases(int phases) {
  switch (phases) {
    case kPhaseA: case kPhaseB: case kPhaseC: return 1;
    case kPhaseABC: return 3;
    default: return 2;
  }
}

// The limit the meter's class gives a point, with the row it comes from;
// without one, why none applies (the point is then not judged).
void classLimit(const TestPoint& tp, const MeterMenu::RunMeter& meter, double current, records::PointRecord* r) {
  const MeterType& type = meter.type;
  std::string meterClass = meter.reactive ? type.reactiveClass : type.activeClass;
  if (meterClass.empty()) {
    r->limitSource = "тип " + type.name + ": нет класса реактивной энергии";
    return;
  }
  metrology::PointCondition c;
  c.active = !meter.reactive;
  c.transformer = type.transformer;
  c.current = current;
  c.base = type.base;
  c.imax = type.imax;
  c.pf = tp.PF;
  c.character = tp.loadType == kLoadCapacitive ? 'C' : tp.loadType == kLoadInductive ? 'L' : 'N';
  std::string why;
  const metrology::ClassRow* row = nullptr;
  if (tp.phases == kPhaseABC || loadedPhases(tp.phases) == 1) {
    c.loading = tp.phases == kPhaseABC ? metrology::Loading::Balanced : metrology::Loading::OnePhase;
    row = metrology::pickRow(classKey(meterClass), c, meter.labRows, &why);
  } else {
    why = "нагрузка двух фаз не в таблицах";
  }
  if (row != nullptr) {
    r->limit = row->limit;
    r->limitSource = metrology::rowSource(*row, type.transformer);
  } else {
    r->limitSource = "класс " + meterClass + ": " + why;
  }
}

}  // namespace

records::PointRecord recordOfPoint(const TestPoint& tp, const std::string& file, const MeterMenu::PointValues& v,
                                   uint32_t ms, const char* endedBy, const MeterMenu::RunMeter& meter) {
  bool ended = endedBy != nullptr;
  records::PointRecord r;
  r.number = tp.number;
  r.U = tp.U * tp.Upct * 0.01;
  r.I = tp.I * tp.Ipct * 0.01;
  r.PF = tp.PF;
  r.load = tp.loadType == kLoadCapacitive ? "C" : tp.loadType == kLoadInductive ? "L" : "";
  r.phases = phaseName(tp.phases);
  r.averageFresh = v.averageFresh && !ended;
  r.average = v.average;
  // The channel values as readings (one, when the point took one).
  r.readings = v.readings;
  if (r.readings.empty() && (v.channelFresh[0] || v.channelFresh[1] || v.channelFresh[2])) {
    records::Reading one;
    one.taken = records::nowStamp();
    for (int n = 0; n < 3; ++n) {
      one.fresh[n] = v.channelFresh[n];
      one.channel[n] = v.channel[n];
    }
    r.readings.push_back(one);
  }
  std::string channelErrors;
  for (int n = 0; n < 3; ++n) {
    // A channel the installation could not measure at a reading (its error
    // frame, or a value that is no number) is not measured at this point;
    // one that missed a reading is not measured either.
    std::vector<double> values;
    bool error = false, missed = r.readings.empty();
    for (const records::Reading& g : r.readings) {
      if (!g.fresh[n]) missed = true;
      else if (!std::isfinite(g.channel[n])) error = true;
      else values.push_back(g.channel[n]);
    }
    if (error) channelErrors += (channelErrors.empty() ? "ошибка канала " : ", ") + std::to_string(n + 1);
    metrology::Summary sum = metrology::summarise(values);
    r.channelFresh[n] = !missed && !error && !ended;
    r.channel[n] = sum.count > 0 ? sum.mean : 0.0;
    r.spreadKnown[n] = r.channelFresh[n] && sum.count > 1;
    r.spread[n] = r.spreadKnown[n] ? sum.spread : 0.0;
  }
  r.measured = records::nowStamp();
  r.durationMs = ms;
  r.settlingMs = v.settlingMs;
  if (!tp.limit.empty()) {
    r.limit = tp.limit;
    r.limitSource = file + ":" + std::to_string(tp.sourceLine);
  } else if (meter.typed) {
    classLimit(tp, meter, r.I, &r);
  }
  if (meter.typed && !r.readings.empty())
    r.pulses = metrology::pulsesAt(r.U, r.I, tp.PF, loadedPhases(tp.phases), meter.type.constant, v.readMs / 1000.0);
  if (r.pulses >= 0 && meter.measure.minPulses > 0 && r.pulses < meter.measure.minPulses) {
    char text[64];
    std::snprintf(text, sizeof text, "импульсов %.0f < %g", std::floor(r.pulses), meter.measure.minPulses);
    r.warning = text;
  }
  bool anyMissed = !r.channelFresh[0] || !r.channelFresh[1] || !r.channelFresh[2];
  if (ended) r.reason = endedBy;
  else if (!v.averageFresh) r.reason = "нет нового среднего";
  else if (!channelErrors.empty()) r.reason = channelErrors;
  else if (anyMissed) r.reason = "нет новых значений каналов";
  r.state = records::judgePoint(r);
  if (r.state == records::PointState::NotJudged) r.reason = r.limitSource;
  return r;
}

records::RunInfo MeterMenu::runInfo(const std::string& key, int identity) {
  records::RunInfo r;
  r.started = records::nowStamp();
  r.workstation = platform::workstationName();
  r.station = records::stationIdentity(settingsPath("station.id"));
  r.bench = zu_->sync != nullptr && zu_->isSlave() ? zu_->sync->benchNumber() : 0;
  r.address = link_.deviceAddress;
  char text[32];
  if (link_.cachedSerial != kNoSerial) {
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(link_.cachedSerial));
    r.serial = text;
  }
  r.deviceType = deviceTypeName(link_.cachedDeviceType);
  std::snprintf(text, sizeof text, "%d.%d.%d", link_.versionMajor, link_.versionMinor, link_.versionBuild);
  r.version = text;
  r.programmeKey = key;
  r.programmeId = identity;
  r.programmeFile = zu_->programmeFile;
  return r;
}

bool MeterMenu::verificationOffered() const {
  return zu_ != nullptr && (zu_->isSlave() || (zu_->channel && zu_->channel->isOpen && zu_->autoOn) ||
                            !zu_->missingPort.empty());
}

const char* MeterMenu::verificationMenuLine() const {
  // (Only a bench of its own or a master looks for the installation.)
  return zu_->missingPort.empty() ? "\r\n <8>  - Поверка."
                                  : "\r\n <8>  - Поверка (ЭУ7125М не обнаружен: искать снова).";
}

int MeterMenu::installationThenVerification() {
  if (!zu_->missingPort.empty()) {
    std::string port = zu_->missingPort;
    if (!zu_->findAgain()) {
      Console::clearLines(15, 1);
      Console::clearLines(19, 3);
      Console::print("\nЭУ7125М не обнаружен (%s): проверьте питание установки и кабель.\n", port.c_str());
      Console::print("Порт установки задаёт строка Port_ZU файла QS_ADD/common.sch.");
      return -1;
    }
    Console::clearLines(15, 1);
  }
  return verification();
}

namespace {

constexpr const char* kConditionsFile = "conditions.txt";
constexpr const char* kOperatorFile = "operator.txt";

// The operator of this session: asked at its first run, the last one's name
// offered (kept in the working folder between starts).
std::string& sessionOperatorName() {
  static std::string name;
  return name;
}
bool& operatorAsked() {
  static bool asked = false;
  return asked;
}
std::string sessionOperator() { return sessionOperatorName(); }

// One value of the conditions form: Enter with nothing typed, or Esc,
// keeps `*value` (when there is one).
int conditionField(const char* name, double* value, bool known) {
  char prompt[96];
  if (known) std::snprintf(prompt, sizeof prompt, "%s (Enter - %.1f): ", name, *value);
  else std::snprintf(prompt, sizeof prompt, "%s: ", name);
  std::string shown = prompt;
  for (char& c : shown)
    if (c == '.') c = ',';
  return Console::readNumber(shown.c_str(), value);
}

// What a run is told of its meter and its measuring, and what the type line
// above the table says; false (with the message) when the settings for
// measuring do not parse.
bool runMeterOf(const Programme& p, const std::string& deviceType, MeterMenu::RunMeter* meter, std::string* typeLine,
                std::string* note, std::string* error) {
  int badLine = 0;
  if (!readMeasureLine(settingsPath("common.sch"), &meter->measure, &badLine)) {
    *error = "Ошибка в строке " + std::to_string(badLine) + " common.sch: Measure";
    return false;
  }
  bool found = false;
  std::string measure = programmeOption(p.fields, "measure", &found);
  if (found && !parseMeasure(measure, &meter->measure)) {
    *error = "Ошибка в программе " + p.key + " " + p.title + ": measure=" + measure;
    return false;
  }
  std::string named = programmeOption(p.fields, "type", &found);
  MeterCatalogue catalogue = readMeterCatalogue(settingsPath("meters.sch"));
  // Without a catalogue and without a type named, limits come from the
  // programme as they always did: nothing to say.
  if (!catalogue.opened && named.empty()) return true;
  std::string message;
  const MeterType* type = findMeterType(catalogue, named, deviceType, &message);
  if (type == nullptr) {
    *typeLine = message;
    *note = message;
    return true;
  }
  meter->typed = true;
  meter->type = *type;
  *typeLine = "Счётчик " + type->name + ": класс " + (meter->reactive ? type->reactiveClass : type->activeClass) +
              (type->transformer ? ", Iном " : ", Iб ") + records::currentText(type->base, ',') + " А, Imax " +
              records::currentText(type->imax, ',') + " А";
  std::string problem = catalogueNote(catalogue);
  if (!problem.empty()) {
    *typeLine += " (" + problem + ")";
    *note = problem;
  }
  return true;
}

// The laboratory, the reference and the day's conditions as the run's
// record keeps them (a line that does not parse: nothing of it).
void laboratoryInto(records::RunInfo* info) {
  Laboratory lab;
  if (readLaboratory(settingsPath("common.sch"), &lab, nullptr) && lab.given) {
    info->labName = lab.name;
    info->labAddress = lab.address;
    info->labAccreditation = lab.accreditation;
    info->labMethod = lab.method;
    info->temperatureBounds = boundsText(lab.temperature);
    info->humidityBounds = boundsText(lab.humidity);
    info->pressureBounds = boundsText(lab.pressure);
  }
  Reference ref;
  if (readReference(settingsPath("common.sch"), &ref, nullptr) && ref.given) {
    info->referenceModel = ref.model;
    info->referenceSerial = ref.serial;
    info->referenceDue = ref.due;
  }
  Conditions c = readConditions(kConditionsFile);
  if (c.known && c.date == todayText()) {
    info->conditionsKnown = true;
    info->temperature = c.temperature;
    info->humidity = c.humidity;
    info->pressure = c.pressure;
  }
  info->operatorName = sessionOperator();
  info->software = softwareText();
}

}  // namespace

int MeterMenu::verification() {
  clearWork(*zu_, 19, 18);
  // A bench whose stand master has ended can verify nothing until it joins
  // the next one (started again from that master).
  auto masterGone = [this] { return zu_->sync != nullptr && zu_->isSlave() && zu_->sync->masterGone(); };
  if (masterGone()) {
    Console::print("\n%s: поверка невозможна.\n", kMasterGoneText);
    return -2;
  }
  // No run starts on a reference installation past its calibration.
  std::string refusal = referenceRefusal(settingsPath("common.sch"), todayText());
  if (!refusal.empty()) {
    Console::print("\n%s\n", fittedText(refusal, workCells(*zu_)).c_str());
    return -1;
  }
  Laboratory lab;
  int badLab = 0;
  if (!readLaboratory(settingsPath("common.sch"), &lab, &badLab)) {
    Console::print("\nОшибка в строке %d common.sch: Lab\n", badLab);
    return -1;
  }
  // Nor with a laboratory's class rows that do not hold together.
  LabClassRows labRows = readClassRows(settingsPath("classes.sch"));
  if (!labRows.errors.empty()) {
    Console::print("\n");
    for (const std::string& line : messageLines(classRowsRefusal(labRows), workCells(*zu_)))
      Console::print("%s\n", line.c_str());
    return -1;
  }
  std::vector<Programme> list = programmes(settingsPath("common.sch"));
  if (list.empty()) {
    Console::print("\nНет программ поверки (Ver, Ver_Vrf) в настройках.\n");
    return -1;
  }
  Console::print("\nПрограммы поверки:\n");
  for (size_t i = 0; i < list.size() && i < 9; ++i)
    Console::print(" <%u>  %s %s\n", static_cast<unsigned>(i + 1), list[i].key.c_str(), list[i].title.c_str());
  int key = Console::readKey();
  if (key < '1' || key >= '1' + static_cast<int>(list.size() < 9 ? list.size() : 9)) {
    clearWork(*zu_, 19, 18);
    return kKeyEsc;
  }
  const Programme& p = list[static_cast<size_t>(key - '1')];
  clearWork(*zu_, 19, 18);
  if (askOperatorAndConditions() == kKeyEsc) {
    clearWork(*zu_, 19, 18);
    return kKeyEsc;
  }
  bool byGroup = sameKey(p.key, "Ver_Vrf");
  int r = zu_->loadProgramme(settingsPath("common.sch"), p.key, p.identity, byGroup ? 1 : 0, 1);
  clearWork(*zu_, 19, 18);
  if (r == kKeyEsc) return kKeyEsc;
  if (r != 0) {
    if (!zu_->programmeError.empty()) Console::print("\n%s\n", fittedText(zu_->programmeError, workCells(*zu_)).c_str());
    else Console::print("\nОшибка загрузки программы поверки (%d).\n", r);
    return r;
  }
  RunMeter meter;
  meter.labRows = labRows.rows;
  // The energy the installation measures (on a stand, as the master set it)
  // picks the class: active unless it was switched to reactive.
  meter.reactive = zu_->getMode() == 1;
  std::string typeLine, note, error;
  if (!runMeterOf(p, deviceTypeName(link_.cachedDeviceType), &meter, &typeLine, &note, &error)) {
    Console::print("\n%s\n", fittedText(error, workCells(*zu_)).c_str());
    return -1;
  }
  records::RunInfo info = runInfo(p.key, p.identity);
  info.programmeTitle = p.title;
  if (meter.typed) {
    info.meterType = meter.type.name;
    info.meterClass = meter.reactive ? meter.type.reactiveClass : meter.type.activeClass;
  }
  info.typeNote = note;
  info.measure = measureText(meter.measure);
  if (meter.typed) {
    info.meterInterval = meter.type.intervalYears;
    info.meterBase = meter.type.base;
    info.meterTransformer = meter.type.transformer;
  }
  laboratoryInto(&info);
  // A bench of its own may repeat the points that failed or were not
  // measured, as a run of its own linked to the one before; on a stand the
  // programme is run again by every bench that takes part.
  bool standalone = panelBeside(*zu_);
  std::vector<TestPoint> points = zu_->testPoints;
  std::unique_ptr<records::RunRecorder> run;
  int result = 0, repeatRound = 0;
  for (;;) {
    auto next = std::make_unique<records::RunRecorder>(records::kDatabaseName, info, run.get());
    run = std::move(next);  // (the run before is finished; the re-test keeps its link)
    RunTopLine top(typeLine, standalone);
    std::vector<TestPoint> repeat;
    std::string notMeasured;
    result = runPoints(points, *run, meter, top, &repeat, &notMeasured);
    std::string verdict = run->finish(result == 0);
    top.show(*run);
    bool retest = repeatRound > 0;
    std::string end = result == 0 ? (retest ? "Повторная поверка завершена." : "Поверка завершена.")
                                  : (retest ? "Повторная поверка прервана." : "Поверка прервана.");
    if (result != 0 && masterGone()) end += std::string(" ") + kMasterGoneText + ".";
    if (!verdict.empty()) end += std::string(" Итог: ") + records::stateText(records::stateOfWord(verdict)) + ".";
    if (!notMeasured.empty()) end += " Не измерены точки: " + notMeasured + ".";
    bool offer = standalone && !repeat.empty() && result != kKeyEsc;
    if (offer) end += " <1> повторить: " + std::to_string(repeat.size());
    Console::gotoXY(0, 36);
    Console::print("%s", fittedText(end, workCells(*zu_)).c_str());
    if (Console::readKey() != '1' || !offer) break;
    clearWork(*zu_, 19, 18);
    points = repeat;
    info.started = records::nowStamp();
    ++repeatRound;
  }
  clearWork(*zu_, 19, 18);
  return result;
}

int MeterMenu::askOperatorAndConditions() {
  // A workshop whose settings name no laboratory signs no protocols: it is
  // asked nothing.
  Laboratory lab;
  if (!readLaboratory(settingsPath("common.sch"), &lab, nullptr) || !lab.given) return 0;
  Console::gotoXY(0, 20);
  if (!operatorAsked()) {
    std::string last;
    if (readWholeFile(kOperatorFile, 256, &last) == ReadResult::kRead) {
      while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
    }
    std::string name = last;
    std::string prompt = last.empty() ? "Поверитель: " : "Поверитель (Enter - " + fittedText(last, 40) + "): ";
    if (Console::readLine(prompt.c_str(), name, 60) == kKeyEsc) return kKeyEsc;
    sessionOperatorName() = name;
    operatorAsked() = true;
    if (name != last) writeWholeFile(kOperatorFile, name + "\n");
    Console::print("\n");
  }
  // The conditions of the day, at its first run (Esc keeps the last ones).
  Conditions c = readConditions(kConditionsFile);
  std::string today = todayText();
  if (c.known && c.date == today) return 0;
  Console::print("Условия поверки (Esc - прежние):\n");
  bool known = c.known;
  double values[3] = {c.temperature, c.humidity, c.pressure};
  const char* names[3] = {"Температура, °C", "Влажность, %", "Давление, кПа"};
  for (int i = 0; i < 3; ++i) {
    double v = values[i];
    int r = conditionField(names[i], &v, known);
    Console::print("\n");
    if (r == kKeyEsc) {
      if (!known) return 0;  // nothing to keep: asked again at the next run
      break;
    }
    // A field left empty with nothing before it leaves the day unknown.
    if (!known && v == values[i]) return 0;
    values[i] = v;
  }
  c.date = today;
  c.known = true;
  c.temperature = values[0];
  c.humidity = values[1];
  c.pressure = values[2];
  writeConditions(kConditionsFile, c);
  return 0;
}

int MeterMenu::runPoints(const std::vector<TestPoint>& points, records::RunRecorder& recorder, const RunMeter& meter,
                         RunTopLine& top, std::vector<TestPoint>* repeat, std::string* notMeasured) {
  auto masterGone = [this] { return zu_->sync != nullptr && zu_->isSlave() && zu_->sync->masterGone(); };
  bool besidePanel = panelBeside(*zu_);
  int channelWidth = besidePanel ? 8 : 9;
  top.show(recorder);
  Console::print(besidePanel ? "\n N     U       I      PF   Ф    Среднее   Канал 1  Канал 2  Канал 3\n"
                             : "\n N     U       I      PF   Ф    Среднее    Канал 1   Канал 2   Канал 3\n");
  int shown = 0;
  int result = 0;
  size_t done = 0;
  for (const TestPoint& tp : points) {
    if (escPressed()) {
      result = kKeyEsc;
      break;
    }
    PointValues v;
    uint32_t started = platform::tickCount();
    result = measurePoint(tp, meter.measure, &v);
    const char* endedBy = result == 0 ? nullptr : masterGone() ? "программа QS_Master завершилась" : "поверка прервана";
    // A point's time counts from the installation beginning to set it, not
    // from the bench's request (which may have waited for the stand).
    uint32_t from = v.setKnown ? v.setBegan : started;
    records::PointRecord rec = recordOfPoint(tp, zu_->programmeFile, v, platform::tickCount() - from, endedBy, meter);
    recorder.point(rec);  // committed before its row is shown (an interrupted point as not measured)
    ++done;
    if (rec.state == records::PointState::Failed || rec.state == records::PointState::NotMeasured)
      repeat->push_back(tp);
    if (rec.state == records::PointState::NotMeasured && result == 0)
      *notMeasured += (notMeasured->empty() ? "" : ", ") + std::to_string(tp.number);
    top.show(recorder);
    if (result != 0) break;
    if (shown == 15) {  // the table keeps to the work area
      clearWork(*zu_, 21, 15);
      shown = 0;
    }
    Console::gotoXY(0, 21 + shown++);
    Console::print("%2d %7.2f %7s %6.2f %-5s %s %s %s %s %s", tp.number, tp.U * tp.Upct * 0.01,
                   inColumn(records::currentText(tp.I * tp.Ipct * 0.01), 7).c_str(), tp.PF, phaseName(tp.phases),
                   valueText(v.averageFresh, v.average, 10).c_str(),
                   channelCell(rec, 0, channelWidth).c_str(), channelCell(rec, 1, channelWidth).c_str(),
                   channelCell(rec, 2, channelWidth).c_str(),
                   besidePanel ? shortStateText(rec.state) : records::stateText(rec.state));
    if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postIdle();
  }
  // Points never reached are repeated too.
  for (size_t i = done; i < points.size(); ++i) repeat->push_back(points[i]);
  if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postLeaveCalibration();
  // A run ended midway leaves the installation reset, not half set (on a
  // stand the master does it for the step that was not done).
  else if (result != 0) zu_->reset();
  return result;
}

int MeterMenu::measurePoint(const TestPoint& tp, const MeasureSettings& measure, PointValues* v) {
  return measurePointOn(*zu_, tp, measure, v);
}

int measurePointOn(ZuController& zu, const TestPoint& tp, const MeasureSettings& measure, MeterMenu::PointValues* v) {
  ZuController* zu_ = &zu;
  // The installation is set to the point; from then on every value
  // published was measured at it.
  int r = zu_->setTestPoint(tp.number, tp.phases);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  uint32_t set = platform::tickCount();
  v->setKnown = true;
  v->setBegan = zu_->pointSetBegan;
  bool esc = false;
  ValueMark mark = zu_->valueMark();
  if (measure.settlingSeconds > 0) {
    zu_->hold(static_cast<uint32_t>(measure.settlingSeconds * 1000), &esc);
    if (esc) return kKeyEsc;
    v->settlingMs = platform::tickCount() - set;
  }
  // The average restarts with the point and settles from its fourth value
  // on; a point whose values come slowly shows what came within the bound.
  zu_->waitFreshAverage(mark, MeterMenu::kSettledAverages, MeterMenu::kFreshValueMs, &esc);
  if (esc) return kKeyEsc;
  v->averageFresh = zu_->averagesSince(mark) > 0;
  v->average = zu_->average();
  r = zu_->pulseErrorOn(tp.number);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  uint32_t reading = platform::tickCount();
  // Each reading is a value of each channel published after the one
  // before; the last is taken no sooner than the point's minimum time.
  for (int k = 0; k < measure.readings; ++k) {
    if (k == measure.readings - 1 && measure.minSeconds > 0) {
      uint32_t due = static_cast<uint32_t>(measure.minSeconds * 1000);
      uint32_t gone = platform::tickCount() - set;
      if (gone < due) zu_->hold(due - gone, &esc);
      if (esc) return kKeyEsc;
    }
    mark = zu_->valueMark();
    zu_->waitFreshChannels(mark, MeterMenu::kFreshValueMs, &esc);
    if (esc) return kKeyEsc;
    records::Reading g;
    g.taken = records::nowStamp();
    for (int n = 0; n < 3; ++n) {
      g.fresh[n] = zu_->channelFresh(mark, n);
      g.channel[n] = zu_->channelValue(n);
    }
    v->readings.push_back(g);
  }
  v->readMs = platform::tickCount() - reading;
  v->pointMs = platform::tickCount() - set;
  r = zu_->pulseErrorOff(tp.number);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  return 0;
}

}  // namespace qs
