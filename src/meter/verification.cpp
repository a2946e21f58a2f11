// The verification run of a bench: the test points of a programme, one
// after the other, on the reference installation (directly, or through the
// master of a stand), with the averaged value and the three channel values
// that the installation measured at each.
#include <algorithm>
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
#include "metrology/validity.h"
#include "platform/station_identity.h"
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

// A message of the work area on the rows below the cursor, whole: wrapped
// to the area's width (up to the rows it has).
void sayWhole(const ZuController& zu, const std::string& text) {
  std::vector<std::string> lines = wrappedText(text, workCells(zu));
  Console::print("\n");
  for (size_t i = 0; i < lines.size() && i < 16; ++i)
    Console::print("%s\n", (i == 15 && lines.size() > 16 ? fittedText(lines[i], workCells(zu) - 1) + "\xE2\x80\xA6"
                                                            : lines[i]).c_str());
}

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
  if (fresh && std::isfinite(value)) std::snprintf(text, sizeof text, "%*s", width, inColumn(fixed3(value), width).c_str());
  else if (fresh) std::snprintf(text, sizeof text, "%*s", width + 6, "ошибка");  // six letters, twelve bytes
  else std::snprintf(text, sizeof text, "%*s", width + 3, "нет");  // three letters, six bytes
  return text;
}

// A point's state as its row shows it beside the installation's panel,
// where a row has 80 columns (the records keep the whole word).
const char* shortStateText(records::PointState state) {
  return state == records::PointState::NotMeasured ? "не изм."
         : state == records::PointState::NotJudged ? "не оцен."
                                                    : records::stateText(state);
}

// The points' table: rows 21 to 34; row 35 says what became of the
// installation at the end, row 36 how the run ended.
constexpr int kTableRow = 21, kTableRows = 14, kAfterRunRow = 35;

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
    if (line.empty()) line = recorder.note();
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
  // The meter's whole pulses while it was read: the one number the row,
  // the protocol and the CSV show, and the one a point is judged by.
  if (meter.typed && !r.readings.empty()) {
    double pulses = metrology::pulsesAt(r.U, r.I, tp.PF, loadedPhases(tp.phases), meter.type.constant, v.readMs / 1000.0);
    r.pulses = pulses >= 0 ? std::floor(pulses) : pulses;
  }
  r.minPulses = meter.measure.minPulses;
  bool anyMissed = !r.channelFresh[0] || !r.channelFresh[1] || !r.channelFresh[2];
  if (ended) r.reason = endedBy;
  else if (!v.averageFresh) r.reason = "нет нового среднего";
  else if (!channelErrors.empty()) r.reason = channelErrors;
  else if (anyMissed) r.reason = "нет новых значений каналов";
  // (Judged once, as the run records it.)
  return r;
}

records::RunInfo MeterMenu::runInfo(const std::string& key, int identity) {
  records::RunInfo r;
  r.started = records::nowStamp();
  r.workstation = platform::workstationName();
  r.station = platform::stationIdentity(settingsPath("station.id"));
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

constexpr const char* kConditionsFile = kConditionsFileName;
constexpr const char* kOperatorFile = "operator.txt";
constexpr const char* kOwnerFile = "owner.txt";

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

// The longest value the conditions form takes: its echo stays in the
// field, clear of the installation's panel.
constexpr int kConditionChars = 8;

// One value of the conditions form on its row: Enter with nothing typed
// keeps `*value` (1 when there was none to keep); a value that is no number,
// or outside the range any laboratory works in, is refused on `messageRow`
// and asked again. 27 on Esc.
int conditionField(const ConditionRange& range, double* value, bool known, int messageRow) {
  ConsolePos at = Console::getCursor();
  for (;;) {
    std::string prompt = std::string(range.name) + ", " + range.unit +
                         (known ? " (Enter - " + conditionShown(*value) + "): " : ": ");
    Console::clearBeside(at.y, 1);
    std::string text;
    int r = Console::readLine(prompt.c_str(), text, kConditionChars);
    Console::gotoXY(0, at.y + 1);
    if (r == kKeyEsc) return kKeyEsc;
    if (text.empty()) return known ? 0 : 1;
    std::optional<double> v = decimalNumber(text);
    if (v && *v >= range.low && *v <= range.high) {
      *value = *v;
      Console::clearBeside(messageRow, 1);
      Console::gotoXY(0, at.y + 1);
      return 0;
    }
    Console::clearBeside(messageRow, 1);
    Console::setColor(kAttrWarning);
    Console::print("%s", fittedText(fieldShown(range.name, text) + ": нужно число от " + conditionShown(range.low) +
                                        " до " + conditionShown(range.high) + " " + range.unit,
                                    79)
                             .c_str());
    Console::setColor(kAttrNormal);
    Console::gotoXY(0, at.y);
  }
}

// The meter's pulses a second at a point, where its type gives its constant
// (0 where it does not).
double pulseRate(const TestPoint& tp, const MeterMenu::RunMeter& meter) {
  if (!meter.typed) return 0;
  double rate = metrology::pulsesAt(tp.U * tp.Upct * 0.01, tp.I * tp.Ipct * 0.01, tp.PF, loadedPhases(tp.phases),
                                    meter.type.constant, 1.0);
  return rate > 0 ? rate : 0;
}

// What a run is told of its meter and its measuring, and what the type line
// above the table says; false (with the message) when the settings for
// measuring do not parse.
bool runMeterOf(const Programme& p, const std::string& deviceType, MeterMenu::RunMeter* meter, std::string* typeLine,
                std::string* note, std::string* error) {
  std::string problem;
  if (!readMeasureLine(settingsPath("common.sch"), &meter->measure, &problem)) {
    *error = "Ошибка в настройках: " + problem;
    return false;
  }
  bool found = false;
  std::string measure = programmeOption(p.fields, "measure", &found);
  if (found && !parseMeasure(measure, &meter->measure)) {
    *error = "Ошибка в программе " + p.key + " " + p.title + ": measure=" + measure;
    return false;
  }
  std::string named = programmeOption(p.fields, "type", &found);
  std::string catalogueFile = settingsPath("meters.sch");
  MeterCatalogue catalogue = readMeterCatalogue(catalogueFile);
  // Without a catalogue and without a type named, limits come from the
  // programme as they always did: nothing to say.
  if (!catalogue.opened && named.empty()) return true;
  // A catalogue line that does not parse is a type nobody can verify by:
  // no run starts until it is put right.
  if (!catalogue.errors.empty()) {
    *error = "Ошибка в каталоге счётчиков:";
    for (const std::string& e : catalogue.errors) *error += "\n" + e;
    return false;
  }
  std::string message;
  const MeterType* type = findMeterType(catalogue, named, deviceType, &message);
  if (type == nullptr && !named.empty()) {
    // The programme says which meter it verifies: without that type its
    // points would be judged by nothing the programme meant.
    *error = "Тип счётчика " + named + " программы " + p.title + " не найден в " + catalogueFile +
             (catalogue.opened ? "" : " (нет файла)") + ": поверка невозможна.";
    return false;
  }
  if (type == nullptr) {
    *typeLine = message;
    *note = message;
    return true;
  }
  meter->typed = true;
  meter->type = *type;
  *typeLine = "Счётчик " + type->name + ": класс " + (meter->reactive ? type->reactiveClass : type->activeClass) +
              (type->transformer ? ", Iном " : ", Iб ") + currentText(type->base, ',') + " А, Imax " +
              currentText(type->imax, ',') + " А";
  return true;
}

// The laboratory, the reference and the day's conditions as the run's
// record keeps them (a line that does not parse: nothing of it).
void laboratoryInto(records::RunInfo* info, const Conditions& day) {
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
    info->referenceFund = ref.fundNumber;
  }
  if (day.known) {
    info->conditionsKnown = true;
    info->temperature = day.temperature;
    info->humidity = day.humidity;
    info->pressure = day.pressure;
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
  // A device that did not say who it is cannot be verified: the record
  // would name no meter.
  if (link_.readSerialNumber(0) < 0) {
    char address[8];
    std::snprintf(address, sizeof address, "%02Xh", static_cast<unsigned>(link_.deviceAddress));
    sayWhole(*zu_, std::string("Счётчик не ответил: серийный номер не считан — проверьте адрес ") + address +
                       " и линию");
    return -1;
  }
  // No run starts on a reference installation past its calibration.
  std::string refusal = metrology::referenceRefusal(settingsPath("common.sch"), todayText());
  if (!refusal.empty()) {
    sayWhole(*zu_, refusal);
    return -1;
  }
  Laboratory lab;
  std::string problem;
  Registry registry;
  Stand stand;
  if (!readLaboratory(settingsPath("common.sch"), &lab, &problem) ||
      !readRegistry(settingsPath("common.sch"), &registry, &problem) ||
      !readStand(settingsPath("common.sch"), &stand, &problem)) {
    sayWhole(*zu_, "Ошибка в настройках: " + problem);
    return -1;
  }
  // Nor with a laboratory's class rows that do not hold together.
  LabClassRows labRows = readClassRows(settingsPath("classes.sch"));
  if (!labRows.errors.empty()) {
    sayWhole(*zu_, classRowsRefusal(labRows));
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
  RunMeter meter;
  meter.labRows = labRows.rows;
  // The energy the installation measures (on a stand, as the master set it)
  // picks the class: active unless it was switched to reactive.
  meter.reactive = zu_->getMode() == 1;
  std::string typeLine, note, error;
  if (!runMeterOf(p, deviceTypeName(link_.cachedDeviceType), &meter, &typeLine, &note, &error)) {
    sayWhole(*zu_, error);
    return -1;
  }
  int kind = verificationKind(p.fields);
  if (kind == 0) {
    bool found = false;
    sayWhole(*zu_, "Ошибка в программе " + p.key + " " + p.title + ": " +
                       fieldShown("поверка=", programmeOption(p.fields, "поверка", &found)) +
                       " (первичная или периодическая)");
    return -1;
  }
  // A run starts only in conditions inside the method's bounds: the form
  // comes again until they are, or the operator leaves.
  Conditions day;
  refusal.clear();
  for (;;) {
    if (askOperatorAndConditions(&day, refusal) == kKeyEsc) {
      clearWork(*zu_, 19, 18);
      return kKeyEsc;
    }
    refusal = day.known ? metrology::conditionsRefusal(lab, day) : "";
    if (refusal.empty()) break;
    clearWork(*zu_, 19, 18);
  }
  // The meter's owner, for the registry's record.
  std::string owner;
  if (registry.given && askOwner(&owner) == kKeyEsc) {
    clearWork(*zu_, 19, 18);
    return kKeyEsc;
  }
  bool byGroup = sameKey(p.key, "Ver_Vrf");
  int r = zu_->loadProgramme(settingsPath("common.sch"), p.key, p.identity, byGroup ? 1 : 0, 1);
  clearWork(*zu_, 19, 18);
  if (r == kKeyEsc) return kKeyEsc;
  if (r != 0) {
    if (!zu_->programmeError.empty()) sayWhole(*zu_, zu_->programmeError);
    else Console::print("\nОшибка загрузки программы поверки (%d).\n", r);
    return r;
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
  laboratoryInto(&info, day);
  info.verificationKind = kind;
  info.owner = owner;
  if (meter.typed) {
    info.registerNumber = meter.type.registerNumber;
    info.modification = meter.type.modification;
  }
  if (registry.given) {
    info.signCipher = registry.cipher;
    info.signPass = registry.signPass;
    info.signMi = registry.signMi;
  }
  info.standCode = stand.code;
  // What the form took, in its own words, stays on the last row while the
  // points run, so that a slip is seen before the first of them.
  std::string conditionsLine = !lab.given ? "" : day.known ? conditionsEcho(day) : "Условия не введены";
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
    if (!conditionsLine.empty()) {
      Console::gotoXY(0, kAfterRunRow + 1);
      Console::print("%s", fittedText(conditionsLine, workCells(*zu_)).c_str());
      Console::gotoXY(0, 19);
    }
    std::vector<TestPoint> repeat;
    std::string notMeasured;
    installationReset_ = false;
    withoutLimit_ = 0;
    result = runPoints(points, *run, meter, top, &repeat, &notMeasured);
    std::string verdict = run->finish(result == 0);
    top.show(*run);
    bool retest = repeatRound > 0;
    std::string end = result == 0 ? (retest ? "Повторная поверка завершена." : "Поверка завершена.")
                                  : (retest ? "Повторная поверка прервана." : "Поверка прервана.");
    if (result != 0 && masterGone()) end += std::string(" ") + kMasterGoneText + ".";
    if (!verdict.empty()) end += std::string(" Итог: ") + metrology::verdictShown(verdict, withoutLimit_) + ".";
    bool offer = standalone && !repeat.empty() && result != kKeyEsc;
    if (offer) end += " <1> повторить: " + std::to_string(repeat.size());
    // What became of the installation and which points were not measured
    // above the line that ends the run.
    std::string after = installationReset_ ? "Установка сброшена." : "";
    if (!notMeasured.empty()) after += (after.empty() ? "" : " ") + std::string("Не измерены точки: ") + notMeasured + ".";
    clearWork(*zu_, kAfterRunRow, 2);
    Console::print("%s", fittedText(after, workCells(*zu_)).c_str());
    Console::gotoXY(0, kAfterRunRow + 1);
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

int MeterMenu::askOwner(std::string* owner) {
  clearWork(*zu_, 19, 18);
  Console::gotoXY(0, 20);
  std::string last;
  if (readWholeFile(kOwnerFile, 1024, &last) == ReadResult::kRead) {
    while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
  }
  std::string name = last;
  std::string prompt = last.empty() ? "Владелец: " : "Владелец (Enter - " + fittedText(last, 30) + "): ";
  if (Console::readLine(prompt.c_str(), name, 200) == kKeyEsc) return kKeyEsc;
  name = trimmed(name);
  if (name != last && !name.empty()) writeWholeFile(kOwnerFile, name + "\n");
  *owner = name;
  return 0;
}

int MeterMenu::askOperatorAndConditions(Conditions* day, const std::string& refusal) {
  *day = Conditions{};
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
    std::string prompt = last.empty() ? "Поверитель: " : "Поверитель (Enter - " + fittedText(last, 24) + "): ";
    if (Console::readLine(prompt.c_str(), name, 60) == kKeyEsc) return kKeyEsc;
    sessionOperatorName() = name;
    operatorAsked() = true;
    if (name != last) writeWholeFile(kOperatorFile, name + "\n");
    Console::print("\n");
  }
  // The conditions of the day, at its first run (Esc keeps the last ones),
  // or again when those given cannot be verified in.
  Conditions c = readConditions(kConditionsFile);
  std::string today = todayText();
  if (c.known && c.date == today && refusal.empty()) {
    *day = c;
    return 0;
  }
  if (!refusal.empty()) {
    Console::setColor(kAttrWarning);
    Console::print("%s\n", fittedText(refusal, 79).c_str());
    Console::setColor(kAttrNormal);
  }
  Console::print(refusal.empty() ? "Условия поверки (Esc - прежние):\n" : "Условия поверки (Esc - выход):\n");
  int messageRow = Console::getCursor().y + 3;
  bool known = c.known;
  for (int i = 0; i < 3; ++i) {
    double v = conditionValue(c, i);
    int r = conditionField(kConditionRanges[i], &v, known, messageRow);
    if (r == kKeyEsc) {
      if (!refusal.empty()) return kKeyEsc;  // the values kept are the ones refused
      if (!known) return 0;                  // nothing to keep: asked again at the next run
      break;
    }
    // A field left empty with nothing before it leaves the day unknown.
    if (r == 1) return 0;
    (i == 0 ? c.temperature : i == 1 ? c.humidity : c.pressure) = v;
  }
  c.date = today;
  c.known = true;
  *day = c;
  if (!writeConditions(kConditionsFile, c)) {
    Console::gotoXY(0, messageRow);
    Console::setColor(kAttrWarning);
    Console::print("%s", fittedText(std::string(kConditionsFile) + " не записан: условия спросят снова", 79).c_str());
    Console::setColor(kAttrNormal);
  }
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
    result = measurePoint(tp, meter.measure, pulseRate(tp, meter), &v);
    const char* endedBy = result == 0 ? nullptr : masterGone() ? "программа QS_Master завершилась" : "поверка прервана";
    // A point's time counts from the installation beginning to set it, not
    // from the bench's request (which may have waited for the stand).
    uint32_t from = v.setKnown ? v.setBegan : started;
    records::PointRecord rec = recordOfPoint(tp, zu_->programmeFile, v, platform::tickCount() - from, endedBy, meter);
    recorder.point(rec);  // committed before its row is shown (an interrupted point as not measured)
    if (!records::limitSought(rec)) ++withoutLimit_;
    ++done;
    if (rec.state == records::PointState::Failed || rec.state == records::PointState::NotMeasured)
      repeat->push_back(tp);
    if (rec.state == records::PointState::NotMeasured && result == 0)
      *notMeasured += (notMeasured->empty() ? "" : ", ") + std::to_string(tp.number);
    top.show(recorder);
    if (result != 0) break;
    if (shown == kTableRows) {  // the table keeps to the work area
      clearWork(*zu_, kTableRow, kTableRows);
      shown = 0;
    }
    Console::gotoXY(0, kTableRow + shown++);
    std::string line;
    appendf(line, "%2d %7.2f %7s %6.2f %-5s %s %s %s %s %s", tp.number, tp.U * tp.Upct * 0.01,
            inColumn(currentText(tp.I * tp.Ipct * 0.01), 7).c_str(), tp.PF, phaseName(tp.phases),
            valueText(v.averageFresh, v.average, 10).c_str(), channelCell(rec, 0, channelWidth).c_str(),
            channelCell(rec, 1, channelWidth).c_str(), channelCell(rec, 2, channelWidth).c_str(),
            besidePanel ? shortStateText(rec.state) : records::stateText(rec.state));
    // A row never reaches the panel, whatever its numbers: the column next
    // to the panel stays blank.
    Console::print("%s", fittedText(line, workCells(*zu_) - 1).c_str());
    if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postIdle();
  }
  // Points never reached are repeated too.
  for (size_t i = done; i < points.size(); ++i) repeat->push_back(points[i]);
  // A run leaves the installation reset, however it ended: nothing stays
  // energised on the bench (on a stand the master resets it once its last
  // bench has left the run).
  if (zu_->sync != nullptr && zu_->isSlave()) {
    zu_->sync->postLeaveCalibration();
  } else {
    installationReset_ = zu_->reset() == 0;
  }
  return result;
}

int MeterMenu::measurePoint(const TestPoint& tp, const MeasureSettings& measure, double pulseRate, PointValues* v) {
  return measurePointOn(*zu_, tp, measure, pulseRate, v);
}

int measurePointOn(ZuController& zu, const TestPoint& tp, const MeasureSettings& measure, double pulseRate,
                   MeterMenu::PointValues* v) {
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
  // before; the last is taken no sooner than the point's minimum time, nor
  // before the meter has given its minimum pulses since the pulse error
  // was switched on (up to the bound: a point that cannot reach them in
  // time is not measured).
  double dueMs = measure.minSeconds * 1000;
  if (pulseRate > 0 && measure.minPulses > 0) {
    double pulsesMs = static_cast<double>(reading - set) + measure.minPulses / pulseRate * 1000;
    dueMs = std::max(dueMs, std::min(pulsesMs, measure.boundSeconds() * 1000));
  }
  for (int k = 0; k < measure.readings; ++k) {
    if (k == measure.readings - 1 && dueMs > 0) {
      uint32_t due = static_cast<uint32_t>(std::ceil(dueMs));
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
