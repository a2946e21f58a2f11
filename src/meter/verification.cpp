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
#include "records/run_recorder.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

constexpr const char* kMasterGoneText = "Программа QS_Master завершилась";

struct Programme {
  std::string key;
  int identity = 0;
  std::string title;
};

// The Ver and Ver_Vrf lines of the settings, in file order.
std::vector<Programme> programmes(const std::string& path) {
  std::vector<Programme> out;
  std::vector<std::string> lines;
  if (!readSettingsLines(path, lines)) return out;
  for (const std::string& line : lines) {
    if (line.empty() || isCommentLine(line)) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    if (!sameKey(key, "Ver") && !sameKey(key, "Ver_Vrf")) continue;
    std::vector<std::string> f;
    size_t at = line.find('\t', colon + 1);
    while (at != std::string::npos && f.size() < 4) {
      size_t next = line.find('\t', at + 1);
      if (next == std::string::npos) break;
      f.push_back(line.substr(at + 1, next - at - 1));
      at = next;
    }
    if (f.size() < 4) continue;
    int o = static_cast<int8_t>(decimalValue(f[0]));
    int t = static_cast<int8_t>(decimalValue(f[1]));
    int u = static_cast<int8_t>(decimalValue(f[2]));
    out.push_back(Programme{key, o * 65536 + t * 256 + u, f[3]});
  }
  return out;
}

bool escPressed() { return Console::keyPending() && Console::readKey() == kKeyEsc; }

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

// A text cut to at most `cells` characters.
std::string fitted(const std::string& text, size_t cells) {
  size_t at = 0, count = 0;
  while (at < text.size() && count < cells) {
    char32_t cp;
    size_t n = decodeUtf8(text.data() + at, text.size() - at, &cp);
    at += n == 0 ? 1 : n;
    ++count;
  }
  return text.substr(0, at);
}

}  // namespace

records::PointRecord recordOfPoint(const TestPoint& tp, const std::string& file, const MeterMenu::PointValues& v,
                                   uint32_t ms, const char* endedBy) {
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
  std::string channelErrors;
  for (int n = 0; n < 3; ++n) {
    // A channel the installation could not measure (its error frame, or a
    // value that is no number) is not measured at this point.
    bool error = v.channelFresh[n] && !std::isfinite(v.channel[n]);
    if (error) channelErrors += (channelErrors.empty() ? "ошибка канала " : ", ") + std::to_string(n + 1);
    r.channelFresh[n] = v.channelFresh[n] && !error && !ended;
    r.channel[n] = error ? 0.0 : v.channel[n];
  }
  r.measured = records::nowStamp();
  r.durationMs = ms;
  r.limit = tp.limit;
  if (!tp.limit.empty()) r.limitSource = file + ":" + std::to_string(tp.sourceLine);
  if (ended) r.reason = endedBy;
  else if (!v.averageFresh) r.reason = "нет нового среднего";
  else if (!channelErrors.empty()) r.reason = channelErrors;
  else if (!v.channelFresh[0] || !v.channelFresh[1] || !v.channelFresh[2]) r.reason = "нет новых значений каналов";
  r.state = records::judgePoint(r);
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
  return zu_ != nullptr && (zu_->isSlave() || (zu_->channel && zu_->channel->isOpen && zu_->autoOn));
}

int MeterMenu::verification() {
  Console::clearLinesWide(19, 18);
  // A bench whose stand master has ended can verify nothing until it joins
  // the next one (started again from that master).
  auto masterGone = [this] { return zu_->sync != nullptr && zu_->isSlave() && zu_->sync->masterGone(); };
  if (masterGone()) {
    Console::print("\n%s: поверка невозможна.\n", kMasterGoneText);
    return -2;
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
    Console::clearLinesWide(19, 18);
    return kKeyEsc;
  }
  const Programme& p = list[static_cast<size_t>(key - '1')];
  bool byGroup = sameKey(p.key, "Ver_Vrf");
  int r = zu_->loadProgramme(settingsPath("common.sch"), p.key, p.identity, byGroup ? 1 : 0, 1);
  Console::clearLinesWide(19, 18);
  if (r == kKeyEsc) return kKeyEsc;
  if (r != 0) {
    if (!zu_->programmeError.empty()) Console::print("\n%s\n", fitted(zu_->programmeError, 99).c_str());
    else Console::print("\nОшибка загрузки программы поверки (%d).\n", r);
    return r;
  }
  std::vector<TestPoint> points = zu_->testPoints;
  records::RunRecorder recorder(records::kDatabaseName, runInfo(p.key, p.identity));
  // Beside the installation's panel (a bench of its own, no stand) a row has
  // 80 columns: narrower channel columns and the short state.
  bool besidePanel = !(zu_->sync != nullptr && zu_->isSlave());
  int channelWidth = besidePanel ? 8 : 9;
  std::string lineShown, notMeasured;
  auto showRecords = [&] {  // what the records could not take yet, above the table
    std::string line = recordsLine(recorder);
    if (line == lineShown) return;
    lineShown = line;
    ConsolePos at = Console::getCursor();
    // Beside the panel only the row's own 80 columns are cleared.
    if (besidePanel) Console::gotoXY(0, 19);
    else Console::clearLinesWide(19, 1);
    std::string shownLine = fitted(line, besidePanel ? 79 : 96);
    size_t cells = 0;
    for (unsigned char c : shownLine) cells += (c & 0xC0) != 0x80;
    Console::setColor(kAttrWarning);
    Console::print("%s", shownLine.c_str());
    Console::setColor(kAttrNormal);
    if (besidePanel && cells < 79) Console::print("%s", std::string(79 - cells, ' ').c_str());
    Console::setCursor(at);
  };
  showRecords();
  Console::print(besidePanel ? "\n N     U       I      PF   Ф    Среднее   Канал 1  Канал 2  Канал 3\n"
                             : "\n N     U       I      PF   Ф    Среднее    Канал 1   Канал 2   Канал 3\n");
  int shown = 0;
  int result = 0;
  for (const TestPoint& tp : points) {
    if (escPressed()) {
      result = kKeyEsc;
      break;
    }
    PointValues v;
    uint32_t started = platform::tickCount();
    result = measurePoint(tp, &v);
    const char* endedBy = result == 0 ? nullptr : masterGone() ? "программа QS_Master завершилась" : "поверка прервана";
    records::PointRecord rec = recordOfPoint(tp, zu_->programmeFile, v, platform::tickCount() - started, endedBy);
    recorder.point(rec);  // committed before its row is shown (an interrupted point as not measured)
    if (rec.state == records::PointState::NotMeasured && result == 0)
      notMeasured += (notMeasured.empty() ? "" : ", ") + std::to_string(tp.number);
    showRecords();
    if (result != 0) break;
    if (shown == 15) {  // the table keeps to the work area
      Console::clearLinesWide(21, 15);
      shown = 0;
    }
    Console::gotoXY(0, 21 + shown++);
    Console::print("%2d %7.2f %7s %6.2f %-5s %s %s %s %s %s", tp.number, tp.U * tp.Upct * 0.01,
                   inColumn(records::currentText(tp.I * tp.Ipct * 0.01), 7).c_str(), tp.PF, phaseName(tp.phases),
                   valueText(v.averageFresh, v.average, 10).c_str(),
                   valueText(v.channelFresh[0], v.channel[0], channelWidth).c_str(),
                   valueText(v.channelFresh[1], v.channel[1], channelWidth).c_str(),
                   valueText(v.channelFresh[2], v.channel[2], channelWidth).c_str(),
                   besidePanel ? shortStateText(rec.state) : records::stateText(rec.state));
    if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postIdle();
  }
  if (zu_->sync != nullptr && zu_->isSlave()) zu_->sync->postLeaveCalibration();
  // A run ended midway leaves the installation reset, not half set (on a
  // stand the master does it for the step that was not done).
  else if (result != 0) zu_->reset();
  std::string verdict = recorder.finish(result == 0);
  showRecords();
  Console::gotoXY(0, 36);
  std::string end = result == 0 ? "Поверка завершена." : "Поверка прервана.";
  if (result != 0 && masterGone()) end += std::string(" ") + kMasterGoneText + ".";
  if (!verdict.empty()) end += std::string(" Итог: ") + records::stateText(records::stateOfWord(verdict)) + ".";
  if (!notMeasured.empty()) end += " Не измерены точки: " + notMeasured + ".";
  Console::print("%s", fitted(end, besidePanel ? 79 : 99).c_str());
  Console::readKey();
  Console::clearLinesWide(19, 18);
  return result;
}

int MeterMenu::measurePoint(const TestPoint& tp, PointValues* v) {
  // The installation is set to the point; from then on every value
  // published was measured at it.
  int r = zu_->setTestPoint(tp.number, tp.phases);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  bool esc = false;
  ValueMark mark = zu_->valueMark();
  // The average restarts with the point and settles from its fourth value
  // on; a point whose values come slowly shows what came within the bound.
  zu_->waitFreshAverage(mark, kSettledAverages, kFreshValueMs, &esc);
  if (esc) return kKeyEsc;
  v->averageFresh = zu_->averagesSince(mark) > 0;
  v->average = zu_->average();
  r = zu_->pulseErrorOn(tp.number);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  mark = zu_->valueMark();
  zu_->waitFreshChannels(mark, kFreshValueMs, &esc);
  if (esc) return kKeyEsc;
  for (int n = 0; n < 3; ++n) {
    v->channelFresh[n] = zu_->channelFresh(mark, n);
    v->channel[n] = zu_->channelValue(n);
  }
  r = zu_->pulseErrorOff(tp.number);
  if (r != 0) return r == kKeyEsc ? kKeyEsc : r;
  return 0;
}

}  // namespace qs
