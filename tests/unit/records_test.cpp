// The verification records: what a run and its points keep, the verdicts
// and how they agree with what is printed, records that wait while the
// database cannot take them, files of earlier and later versions, lost
// runs, and the report's files and arguments.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "meter/meter_menu.h"
#include "platform/process.h"
#include "metrology/validity.h"
#include "platform/station_identity.h"
#include "records/chart.h"
#include "records/registry.h"
#include "records/report.h"
#include "records/run_recorder.h"
#include "settings/laboratory.h"
#include "support/test_support.h"
#include "zu/zu_controller.h"

namespace qs::records {
namespace {

// What a page shows of HTML: its text without the tags.
std::string pageText(const std::string& html) {
  std::string out;
  bool tag = false;
  for (char c : html) {
    if (c == '<') tag = true;
    else if (c == '>') tag = false;
    else if (!tag) out += c;
  }
  return out;
}

// The columns the fourth layout added to runs.
const char* const kFourthLayoutColumns[] = {"owner",       "verification_kind", "register_number", "modification",
                                            "sign_cipher", "sign_pass",         "sign_mi",         "reference_fund",
                                            "stand_code",  "end_reason"};

// A moment given as the bench's local time in Moscow (UTC+3), so that the
// expected files are the same in every zone the suite runs in.
Stamp moscow(const char* local) {
  Stamp s;
  EXPECT_TRUE(parseUtcText(local, &s.utc)) << local;
  s.utc -= 3 * 3600;
  s.offsetMin = 180;
  return s;
}

RunInfo knownRun(int bench, const std::string& serial, const char* started) {
  RunInfo r;
  r.started = moscow(started);
  r.workstation = "BENCH-PC";
  r.station = "0123456789abcdef0123456789abcdef";
  r.bench = bench;
  r.address = 0x21;
  r.serial = serial;
  r.deviceType = "3Ф4П(220В)";
  r.version = "1.0.2";
  r.programmeKey = "Ver";
  r.programmeId = 66051;
  r.programmeFile = "QS_ADD/prog.txt";
  // (A long title, cut in the listing; the run of 012345 is as an older qs
  // recorded it, without one.)
  if (serial != "012345") r.programmeTitle = "Поверка по напряжению и току, класс 1";
  r.pid = platform::ownProcessId();
  r.pidMark = platform::processStartMark(r.pid);
  return r;
}

PointRecord knownPoint(int seq, double c1, const std::string& limit) {
  PointRecord p;
  p.seq = p.number = seq;
  p.U = 220;
  p.I = seq == 3 ? 0.0005 : 5;  // a current too small for three decimals
  p.PF = seq == 2 ? 0.5 : 1;
  p.load = seq == 2 ? "L" : "";
  p.phases = seq == 2 ? "AB" : "ABC";
  p.averageFresh = true;
  p.average = 1100.1254;
  p.channelFresh[0] = p.channelFresh[1] = p.channelFresh[2] = true;
  p.channel[0] = c1;
  p.channel[1] = -0.0612;
  p.channel[2] = 0.1234;
  p.measured = moscow(("2026-03-01 10:0" + std::to_string(seq) + ":00").c_str());
  p.durationMs = 12500 + seq * 1000;
  p.limit = limit;
  if (!limit.empty()) p.limitSource = "QS_ADD/prog.txt:" + std::to_string(seq + 1);
  p.state = judgePoint(p);
  return p;
}

void record(ResultsDb& db, const RunInfo& info, const std::vector<PointRecord>& points, const RunEndRecord* end) {
  int64_t id = -1;
  std::string error;
  ASSERT_TRUE(db.record(info, &id, points, static_cast<int>(points.size()), end, &error)) << error;
}

RunEndRecord endOf(RunEnd end, const char* at, const std::string& verdict) {
  return RunEndRecord{end, moscow(at), verdict, ""};
}

// A database as benches leave it: a passed run, a failed one with a point
// not measured, an interrupted one without limits, a run of a bench that
// was killed (lost) after a failed point.
void knownDatabase(const std::string& path) {
  std::string error;
  auto db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  RunEndRecord passed = endOf(RunEnd::Finished, "2026-03-01 10:05:00", "passed");
  record(*db, knownRun(1, "00A001", "2026-03-01 10:00:00"), {knownPoint(1, 0.25, "0,5"), knownPoint(2, 0.5, "0.5")},
         &passed);
  PointRecord missing = knownPoint(2, 0, "0,5");
  missing.channelFresh[2] = false;
  missing.reason = "нет новых значений каналов";
  missing.state = judgePoint(missing);
  RunEndRecord failed = endOf(RunEnd::Finished, "2026-03-02 11:05:00", "failed");
  record(*db, knownRun(2, "012345", "2026-03-02 11:00:00"), {knownPoint(1, 0.75, "0,5"), missing}, &failed);
  RunEndRecord interrupted = endOf(RunEnd::Interrupted, "2026-03-03 12:01:00", "");
  record(*db, knownRun(0, "00A001", "2026-03-03 12:00:00"), {knownPoint(1, 0.25, "")}, &interrupted);
  RunInfo killed = knownRun(3, "00A003", "2026-03-04 09:00:00");
  killed.pid = 0;  // no such process: the run is found lost
  record(*db, killed, {knownPoint(1, 0.75, "0,5"), knownPoint(2, 0.25, "0,5"), knownPoint(3, 0.25, "0,5")}, nullptr);
  EXPECT_EQ(db->markLostRuns(killed.station, "OTHER-NAME", &error), 1);
}

// Reads one CSV record as a spreadsheet does: fields between ';', quotes
// doubled inside quoted fields, line breaks kept inside them.
std::vector<std::string> csvRecord(const std::string& text, size_t* at) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (; *at < text.size(); ++*at) {
    char c = text[*at];
    if (quoted) {
      if (c == '"' && *at + 1 < text.size() && text[*at + 1] == '"') {
        fields.back() += '"';
        ++*at;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      fields.emplace_back();
    } else if (c == '\r' && *at + 1 < text.size() && text[*at + 1] == '\n') {
      *at += 2;
      return fields;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// What a spreadsheet shows of a field: ="x" is the text x, 'x the text x.
std::string shownText(const std::string& field) {
  if (field.size() >= 3 && field.compare(0, 2, "=\"") == 0 && field.back() == '"') {
    std::string inner = field.substr(2, field.size() - 3), out;
    for (size_t i = 0; i < inner.size(); ++i) {
      out += inner[i];
      if (inner[i] == '"') ++i;
    }
    return out;
  }
  if (!field.empty() && field[0] == '\'') return field.substr(1);
  return field;
}

int run(const std::vector<std::string>& args, std::string* said = nullptr,
        const std::string& station = "no-such-folder/station.id") {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  int status = runReport(args, out, err, station);
  if (said != nullptr) {
    said->clear();
    for (FILE* f : {out, err}) {
      std::rewind(f);
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) said->append(buffer, n);
    }
  }
  std::fclose(out);
  std::fclose(err);
  return status;
}

// A value is judged at the resolution it is printed with, and the limit
// as the programme gave it: whatever the value, the verdict a reader makes
// from the printed value and limit is the recorded one.
TEST(Records, AVerdictAgreesWithWhatIsPrinted) {
  PointRecord p = knownPoint(1, 0.124, "0,125");
  EXPECT_EQ(judgePoint(p), PointState::Passed);
  p.channel[0] = 0.5004;
  p.limit = "0.5";
  EXPECT_EQ(judgePoint(p), PointState::Passed);  // printed 0,500: at the limit
  EXPECT_EQ(fixed3(0.5004, ','), "0,500");
  p.channel[0] = -0.5006;
  EXPECT_EQ(judgePoint(p), PointState::Failed);  // printed -0,501: its size is over
  p.channelFresh[1] = false;
  EXPECT_EQ(judgePoint(p), PointState::NotMeasured);  // no value is never a pass or a fail
  p.channelFresh[1] = true;
  p.channel[1] = std::nan("");
  EXPECT_EQ(judgePoint(p), PointState::NotMeasured);
  p.channel[1] = 0;
  p.limit = "";
  p.limitSource = "класс 1: ток ниже 0,05Iб";  // a limit sought and none found
  EXPECT_EQ(judgePoint(p), PointState::NotJudged);
  EXPECT_EQ(runVerdict({PointState::Passed, PointState::NotJudged}, true, true), "not judged");
  p.limitSource = "";
  EXPECT_EQ(judgePoint(p), PointState::Unjudged);
  EXPECT_EQ(fixed3(-0.0004), "0.000");
  EXPECT_EQ(currentText(0.0005, ','), "0,0005");
  EXPECT_EQ(currentText(0.00125), "0.00125");
  EXPECT_EQ(currentText(5), "5.000");

  // Limits are numbers of percent with at most three decimals; anything
  // else is no limit at all, not a limit of 0 or 1.
  int64_t t = 0;
  for (const char* good : {"0,125", " 1.0 ", "2", "0.5\r\n", ",5"}) EXPECT_TRUE(parseLimit(good, &t)) << good;
  for (const char* bad : {"1,0 %", "±1", "-1", "1.2345", "", "1,2,3", "1e1", "."}) EXPECT_FALSE(parseLimit(bad, &t)) << bad;

  // The harness: random values and limits near each other; the verdict
  // read back from the CSV as printed is the recorded one.
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> thousandthsOf(0, 2000);
  std::vector<ReportRun> runs(1);
  runs[0].run.info = knownRun(1, "00A001", "2026-03-01 10:00:00");
  for (int i = 0; i < 2000; ++i) {
    int limit = thousandthsOf(gen);
    PointRecord q = knownPoint(1, 0, "");
    char text[32];
    std::snprintf(text, sizeof text, i % 2 ? "%d,%03d" : "%d.%03d", limit / 1000, limit % 1000);
    q.limit = text;
    for (double& v : q.channel) v = (limit + std::uniform_real_distribution<double>(-1.5, 1.5)(gen)) / 1000.0 * (i % 3 ? 1 : -1);
    q.state = judgePoint(q);
    q.seq = i + 1;
    runs[0].points.push_back(q);
  }
  std::string csv = pointsCsv(runs);
  size_t at = csv.find("\r\n") + 2;
  std::vector<std::string> head;
  {
    size_t h = 3;
    head = csvRecord(csv, &h);
  }
  auto column = [&](const char* name) { return std::find(head.begin(), head.end(), name) - head.begin(); };
  int checked = 0;
  while (at < csv.size()) {
    std::vector<std::string> f = csvRecord(csv, &at);
    ASSERT_EQ(f.size(), head.size());
    auto number = [](std::string s) {
      std::replace(s.begin(), s.end(), ',', '.');
      return std::stod(s);
    };
    double limit = number(f[column("Допуск, %")]);
    bool pass = true;
    for (const char* c : {"Канал 1", "Канал 2", "Канал 3"}) pass = pass && std::fabs(number(f[column(c)])) <= limit;
    EXPECT_EQ(f[column("Итог точки")], pass ? "годен" : "не годен") << f[column("Канал 1")] << " / " << limit;
    ++checked;
  }
  EXPECT_EQ(checked, 2000);
  // The chart marks exactly the channels of failed points that print
  // outside their limit, and the protocol's rows and conclusion say what
  // the CSV says.
  size_t failed = 0, outside = 0;
  std::vector<PointState> states;
  for (const PointRecord& q : runs[0].points) {
    states.push_back(q.state);
    if (q.state != PointState::Failed) continue;
    ++failed;
    int64_t lim = 0;
    parseLimit(q.limit, &lim);
    for (double v : q.channel) outside += std::llabs(thousandths(v)) > lim ? 1 : 0;
  }
  ASSERT_GT(failed, 200u);
  ASSERT_LT(failed, 1800u);
  auto occurrences = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  std::string svg = errorChartSvg(runs[0].points, 5, false);
  EXPECT_EQ(occurrences(svg, "stroke=\"#c00\""), outside + 1);  // and the legend's sample
  runs[0].run.verdict = runVerdict(states, true, true);
  runs[0].run.shown = runs[0].run.recorded = 2000;
  std::string html = protocolHtml(runs);
  EXPECT_EQ(occurrences(html, "class=\"state failed\"><span class=\"nw\">не годен</span></td>"), failed);
  EXPECT_EQ(occurrences(html, "class=\"state passed\"><span class=\"nw\">годен</span></td>"), 2000 - failed);
  EXPECT_NE(pageText(html).find("Заключение: не годен."), std::string::npos);

  using S = PointState;
  EXPECT_EQ(runVerdict({S::Passed, S::Passed}, true, true), "passed");
  EXPECT_EQ(runVerdict({S::Passed, S::Passed}, true, false), "not measured");  // interrupted: not all measured
  EXPECT_EQ(runVerdict({S::NotMeasured, S::Failed}, true, true), "failed");
  EXPECT_EQ(runVerdict({S::Unjudged, S::NotMeasured}, false, true), "");  // no limit: no verdict
}

// A run's verdict is what its record supports, and the bench's word, the
// listing, the CSV and the protocol all say it: a run with points that
// sought no limit, or could not be judged, is never "годен"; an unfinished,
// incomplete or lost run gives no pass; a re-test and the run it repeats
// are one meter's verification, judged by the last attempt at each point.
TEST(Records, ARunsVerdictIsOnlyWhatItsRecordSupports) {
  discardWaitingRecords();
  test::TempDir dir;
  std::string path = dir.file("results.db");
  auto pass = [](int n) { return knownPoint(n, 0.25, "0,5"); };
  auto fail = [](int n) { return knownPoint(n, 0.75, "0,5"); };
  auto free = [](int n) { return knownPoint(n, 0.25, ""); };  // sought no limit
  auto unjudged = [](int n) {
    PointRecord p = knownPoint(n, 0.25, "");
    p.limitSource = p.reason = "класс 1: ток ниже 0,05Iб";
    p.state = judgePoint(p);
    return p;
  };
  auto unmeasured = [](int n) {
    PointRecord p = knownPoint(n, 0.25, "0,5");
    p.channelFresh[1] = false;
    p.state = judgePoint(p);
    return p;
  };
  struct Case {
    const char* serial;
    std::vector<PointRecord> points;
    bool finished;
    const char* verdict;  // as the listing, the CSV and the protocol say it
    bool valid;           // "Действительно до" on its protocol
  };
  const Case cases[] = {
      {"000001", {pass(1), pass(2)}, true, "годен", true},
      {"000002", {pass(1), free(2), free(3)}, true, "не оценено (точек без допуска: 2)", false},
      {"000003", {pass(1), unjudged(2)}, true, "не оценено", false},
      {"000004", {fail(1), unmeasured(2)}, true, "не годен", false},
      {"000005", {unmeasured(1), pass(2)}, true, "не измерено", false},
      {"000006", {pass(1), pass(2)}, false, "не измерено", false},
      {"000007", {free(1), free(2)}, true, "-", false},  // no limit at all: no verdict
  };
  std::string said;
  for (const Case& c : cases) {
    RunInfo info = knownRun(0, c.serial, "2026-03-01 10:00:00");
    info.meterInterval = 16;
    RunRecorder rec(path, info);
    for (PointRecord p : c.points) rec.point(p);
    std::string word = rec.finish(c.finished);
    // The bench's own end line says it the same way.
    int withoutLimit = 0;
    for (const PointRecord& p : c.points) withoutLimit += limitSought(p) ? 0 : 1;
    EXPECT_EQ(word.empty() ? "-" : metrology::verdictShown(word, withoutLimit), c.verdict) << c.serial;
  }
  {
    std::string error;
    auto db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
    ASSERT_TRUE(db) << error;
    // Shown three points, recorded two; and two runs of a killed bench.
    RunInfo shortOne = knownRun(0, "000008", "2026-03-01 11:00:00");
    int64_t id = -1;
    RunEndRecord passed = endOf(RunEnd::Finished, "2026-03-01 11:05:00", "passed");
    ASSERT_TRUE(db->record(shortOne, &id, {pass(1), pass(2)}, 3, &passed, &error)) << error;
    RunInfo killed = knownRun(0, "000009", "2026-03-01 12:00:00");
    killed.pid = 0;
    record(*db, killed, {pass(1), fail(2)}, nullptr);
    killed.serial = "000010";
    record(*db, killed, {pass(1), pass(2)}, nullptr);
  }
  // Re-tests: a meter whose failed point passed when repeated, one whose
  // point failed again, and one whose first run had a point without a
  // limit (its re-test passing alone says nothing of that point).
  for (const char* serial : {"000011", "000012", "000013"}) {
    RunInfo info = knownRun(0, serial, "2026-03-02 10:00:00");
    info.meterInterval = 16;
    auto first = std::make_unique<RunRecorder>(path, info);
    for (PointRecord p : {std::string(serial) == "000013" ? free(1) : pass(1), fail(2), pass(3)}) first->point(p);
    EXPECT_EQ(first->finish(true), "failed");
    info.started = moscow("2026-03-02 10:30:00");
    RunRecorder again(path, info, first.get());
    PointRecord p = std::string(serial) == "000012" ? fail(2) : pass(2);
    p.measured = info.started;
    again.point(p);
    again.finish(true);
  }
  ASSERT_EQ(run({"--db", path, "--csv", dir.file("runs.csv"), "--html-dir", dir.file("p")}, &said, dir.file("station.id")),
            0)
      << said;
  std::string listing;
  ASSERT_EQ(run({"--db", path, "--last", "0"}, &listing, dir.file("station.id")), 0);
  std::string csv = test::readFile(dir.file("runs.csv"));
  auto protocol = [&](int id, const char* serial) {
    return test::readFile(dir.file("p/protocol-" + std::to_string(id) + "-" + serial + ".html"));
  };
  struct Shown {
    int id;
    const char* serial;
    const char* listed;  // the listing's line (or its line below) holds it
    const char* csv;     // "Итог прогона" of its points
    const char* concluded;
    bool valid;
  };
  const Shown shown[] = {
      {1, "000001", "завершена годен", ";годен;", "Заключение: годен.", true},
      {2, "000002", "Итог: не оценено (точек без допуска: 2)", ";не оценено (точек без допуска: 2);",
       "Заключение: не оценено (точек без допуска: 2).", false},
      {3, "000003", "завершена не оценено", ";не оценено;", "Заключение: не оценено.", false},
      {4, "000004", "завершена не годен", ";не годен;", "Заключение: не годен.", false},
      {5, "000005", "завершена не измерено", ";не измерено;", "Заключение: не измерено.", false},
      {6, "000006", "прервана  не измерено", ";не измерено;", "Заключение: не измерено.", false},
      {7, "000007", "завершена -", ";;", "Допуск в программе не задан", false},
      {8, "000008", "запись неполная", ";запись неполная;", "Запись неполная", false},
      {9, "000009", "потеряна  не годен", ";не годен;", "Заключение: не годен.", false},
      {10, "000010", "потеряна  не измерено", ";не измерено;", "Заключение: не измерено.", false},
      {11, "000011", "завершена не годен", ";не годен;", "Заключение: не годен.", false},
      {12, "000011", "завершена годен", ";годен;", "Заключение: годен.", true},
      {13, "000012", "завершена не годен", ";не годен;", "Заключение: не годен.", false},
      {14, "000012", "завершена не годен", ";не годен;", "Заключение: не годен.", false},
      {15, "000013", "завершена не годен", ";не годен;", "Заключение: не годен.", false},
      {16, "000013", "завершена годен", ";годен;", "Заключение: не оценено (точек без допуска: 1).", false},
  };
  for (const Shown& w : shown) {
    SCOPED_TRACE(w.id);
    // Its line of the listing, and the line below it when that says its
    // verdict whole.
    char head[16];
    std::snprintf(head, sizeof head, "\n%4d ", w.id);
    size_t from = listing.find(head);
    ASSERT_NE(from, std::string::npos) << listing;
    size_t end = listing.find('\n', from + 1);
    const std::string whole = "     Итог:";
    if (listing.compare(end + 1, whole.size(), whole) == 0) end = listing.find('\n', end + 1);
    std::string entry = listing.substr(from + 1, end - from - 1);
    EXPECT_NE(entry.find(w.listed), std::string::npos) << entry;
    std::string first = std::to_string(w.id) + ";";
    size_t at = csv.find("\n" + first);
    ASSERT_NE(at, std::string::npos);
    std::string record = csv.substr(at, csv.find("\n", at + 1) - at);
    EXPECT_NE(record.find(w.csv), std::string::npos) << record;
    std::string html = pageText(protocol(w.id, w.serial));
    EXPECT_NE(html.find(w.concluded), std::string::npos) << w.concluded;
    EXPECT_EQ(html.find("Действительно до") != std::string::npos, w.valid);
  }
  // The re-test's protocol holds the first run's points that stand, marked
  // with their protocol, and the first run's points to it.
  std::string retest = pageText(protocol(12, "000011"));
  EXPECT_NE(retest.find("годен (прот. № 11)"), std::string::npos);
  EXPECT_EQ(retest.find("не годен (прот. № 11)"), std::string::npos);  // repeated: its last attempt stands
  EXPECT_NE(retest.find("Действительно до2042-03-01"), std::string::npos);
  EXPECT_NE(protocol(11, "000011").find("Протокол поверки № 11 (повторено: протокол № 12)"), std::string::npos);
  discardWaitingRecords();
}

// What the registry's upload is made of: a record for each meter verified —
// fit, unfit with its reasons in words, a re-test and the run it completes
// as one — and every other run named with why it is left out; at most so
// many records a file; each file whole under the schema of the upload
// (xmllint, where it is installed), and the schema refusing what the
// registry refuses.
TEST(Records, TheRegistryFileHoldsARecordForEachMeterVerified) {
  discardWaitingRecords();
  test::TempDir dir;
  std::string path = dir.file("results.db");
  auto registered = [](const char* serial, const char* started) {
    RunInfo r = knownRun(1, serial, started);
    r.meterInterval = 16;
    r.registerNumber = "36697-17";
    r.signCipher = "АБВ";
    r.signPass = true;
    r.referenceFund = "20189.07.РЭ.01351";
    r.labMethod = "МП 000-2026";
    r.operatorName = "Петров П. П.";
    r.owner = "ООО \"Энск & Ко\" <филиал>";
    r.conditionsKnown = true;
    r.temperature = 22.4;
    r.humidity = 47;
    r.pressure = 101.3;
    return r;
  };
  auto pass = [](int n) { return knownPoint(n, 0.25, "0,5"); };
  auto failAt = [](int n, double v) {
    PointRecord p = knownPoint(n, v, "1,0");
    p.state = judgePoint(p);
    return p;
  };
  {
    std::string error;
    auto db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
    ASSERT_TRUE(db) << error;
    RunEndRecord passed = endOf(RunEnd::Finished, "2026-03-01 10:05:00", "passed");
    RunEndRecord failed = endOf(RunEnd::Finished, "2026-03-01 11:05:00", "failed");
    RunInfo fit = registered("000101", "2026-03-01 10:00:00");
    fit.verificationKind = 1;
    fit.modification = "ЦЭ6803В";
    record(*db, fit, {pass(1), pass(2)}, &passed);                                                      // 1
    record(*db, registered("000102", "2026-03-01 11:00:00"), {pass(1), failAt(2, 1.21), pass(3), failAt(5, -1.1054)},
           &failed);                                                                                   // 2
    int64_t first = -1, again = -1;
    RunInfo retestFirst = registered("000103", "2026-03-01 12:00:00");
    ASSERT_TRUE(db->record(retestFirst, &first, {pass(1), failAt(2, 1.21)}, 2, &failed, &error)) << error;  // 3
    RunInfo retest = registered("000103", "2026-03-01 12:30:00");
    retest.retestOf = first;
    ASSERT_TRUE(db->record(retest, &again, {pass(2)}, 1, &passed, &error)) << error;                   // 4
    int64_t id = -1;
    ASSERT_TRUE(db->record(registered("000105", "2026-03-01 13:00:00"), &id, {pass(1), pass(2)}, 3, &passed, &error));
    RunInfo lost = registered("000106", "2026-03-01 14:00:00");                                        // 5
    lost.pid = 0;
    record(*db, lost, {pass(1)}, nullptr);                                                             // 6
    RunEndRecord notJudged = endOf(RunEnd::Finished, "2026-03-01 15:05:00", "not judged");
    record(*db, registered("000107", "2026-03-01 15:00:00"), {pass(1), knownPoint(2, 0.25, "")}, &notJudged);  // 7
    RunInfo unregistered = registered("000108", "2026-03-01 16:00:00");
    unregistered.registerNumber = "";
    record(*db, unregistered, {pass(1)}, &passed);                                                     // 8
    RunInfo ownerless = registered("000109", "2026-03-01 17:00:00");
    ownerless.owner = "";
    record(*db, ownerless, {pass(1)}, &passed);                                                        // 9
  }
  std::string said;
  std::string xml = dir.file("registry.xml");  // (a Cyrillic name: the Windows journey)
  if (std::getenv("QS_WRITE_EXPECTED") != nullptr) {
    // The database of the Windows journey that writes the upload to a path in Cyrillic letters.
    std::string fixture = std::string(QS_SOURCE_DIR) + "/tests/data/registry/registered.db", error;
    std::filesystem::remove(fixture);
    auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
    ASSERT_TRUE(db && db->copyTo(fixture, &error)) << error;
  }
  dir.write("station.id", "0123456789abcdef0123456789abcdef\n");  // the benches' computer: its dead run is lost
  ASSERT_EQ(run({"--db", path, "--registry", xml}, &said, dir.file("station.id")), 0) << said;
  for (const char* line :
       {"прогон 5 (счётчик 000105): не выгружен — запись неполная",
        "прогон 6 (счётчик 000106): не выгружен — прогон потерян",
        "прогон 7 (счётчик 000107): не выгружен — не оценено: есть точки без допуска",
        "прогон 8 (счётчик 000108): не выгружен — нет номера типа в реестре (meters.sch)",
        "прогон 9 (счётчик 000109): не выгружен — нет владельца счётчика", "записей: 3, не выгружено: 5"})
    EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
  std::string file = test::readFile(xml);
  std::string golden = std::string(QS_SOURCE_DIR) + "/tests/data/registry/registry.xml";
  if (std::getenv("QS_WRITE_EXPECTED") != nullptr) std::ofstream(golden, std::ios::binary) << file;
  EXPECT_EQ(file, test::readFile(golden));
  for (const char* text :
       {"<gost:manufactureNum>000101</gost:manufactureNum><gost:modification>ЦЭ6803В</gost:modification>",
        "<gost:vrfDate>2026-03-01+03:00</gost:vrfDate><gost:validDate>2042-02-28+03:00</gost:validDate>"
        "<gost:type>1</gost:type>",
        "<gost:modification>Нет модификации</gost:modification>",
        "<gost:reasons>Основная погрешность превышает допускаемую: точки 2 (канал 1: 1,210 % при допуске 1,0 %), 5 "
        "(канал 1: -1,105 % при допуске 1,0 %)</gost:reasons>",
        "<gost:miOwner>ООО &quot;Энск &amp; Ко&quot; &lt;филиал&gt;</gost:miOwner>",
        "<gost:temperature>22,4 °C</gost:temperature><gost:pressure>101,3 кПа</gost:pressure>"
        "<gost:hymidity>47 %</gost:hymidity>"})
    EXPECT_NE(file.find(text), std::string::npos) << text;
  // The re-tested meter: one record, fit, dated by its re-test.
  EXPECT_EQ(file.find("000103"), file.rfind("000103"));
  EXPECT_NE(file.find("<gost:manufactureNum>000103</gost:manufactureNum>"), std::string::npos);

  // At most so many records a file, each file a whole document.
  std::vector<ReportRun> all;
  {
    std::string error;
    auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
    std::vector<RunRow> rows;
    ASSERT_TRUE(db && db->runs("", "", 0, &rows, &error)) << error;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      all.push_back({*it, {}});
      ASSERT_TRUE(db->pointsOf(it->id, &all.back().points, &error));
      ASSERT_TRUE(loadAttempts(*db, &all.back(), &error));
    }
  }
  RegistryExport two = registryExport(all, 2);
  ASSERT_EQ(two.documents.size(), 2u);
  EXPECT_EQ(two.records, 3);
  EXPECT_EQ(registryFileName("день.xml", 2), "день-2.xml");
  EXPECT_EQ(registryFileName("a.b/day", 3), "a.b/day-3");

  // The files against the schema; and the schema itself refuses a Latin
  // cipher, an empty element, a date with a time, and the humidity spelled
  // right.
#ifndef _WIN32
  if (std::system("xmllint --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
  std::string schema = std::string(QS_SOURCE_DIR) + "/tests/data/registry/import-2020-06-19.xsd";
  auto valid = [&](const std::string& text) {
    std::string f = dir.write("check.xml", text);
    return std::system(("xmllint --noout --schema '" + schema + "' '" + f + "' >/dev/null 2>&1").c_str()) == 0;
  };
  EXPECT_TRUE(valid(file));
  for (const std::string& doc : two.documents) EXPECT_TRUE(valid(doc));
  auto spoiled = [&](const std::string& what, const std::string& with) {
    std::string t = file;
    size_t at = t.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? t : t.replace(at, what.size(), with);
  };
  EXPECT_FALSE(valid(spoiled("<gost:signCipher>АБВ", "<gost:signCipher>ABC")));
  EXPECT_FALSE(valid(spoiled("<gost:metrologist>Петров П. П.</gost:metrologist>", "<gost:metrologist></gost:metrologist>")));
  EXPECT_FALSE(valid(spoiled("<gost:vrfDate>2026-03-01+03:00", "<gost:vrfDate>2026-03-01T10:00:00+03:00")));
  EXPECT_FALSE(valid(spoiled("<gost:hymidity>47 %</gost:hymidity>", "<gost:humidity>47 %</gost:humidity>")));
#endif
}

// The office's register over several stands: the copies of each stand's
// results.db in one folder, reported together in the order of their runs'
// starts; protocol numbers carry the stand's code and never repeat (two
// stands that share a code also carry their computer's mark, said once); a
// run found in yesterday's and today's copy of one stand is shown once, as
// far as it got; a file that cannot be read is named and left out; no copy
// is written.
TEST(Records, OneRegisterOverSeveralStands) {
  discardWaitingRecords();
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "office");
  auto standRun = [](const char* station, const char* code, const char* serial, const char* started) {
    RunInfo r = knownRun(0, serial, started);
    r.station = station;
    r.standCode = code;
    return r;
  };
  const char* a = "aaaa0000000000000000000000000000";
  const char* b = "bbbb0000000000000000000000000000";
  const char* c = "cccc0000000000000000000000000000";
  RunEndRecord passed = endOf(RunEnd::Finished, "2026-03-02 10:05:00", "passed");
  // Each stand's results.db, and its copies for the office as the stand
  // makes them (qs report --copy).
  auto add = [&](const std::string& name, const std::vector<std::pair<RunInfo, bool>>& runs) {
    std::string error;
    auto db = ResultsDb::open(dir.file(name), ResultsDb::Access::Write, &error);
    ASSERT_TRUE(db) << error;
    for (const auto& [info, ended] : runs) {
      int64_t id = -1;
      ASSERT_TRUE(db->record(info, &id, {knownPoint(1, 0.25, "0,5")}, 1, ended ? &passed : nullptr, &error)) << error;
    }
  };
  auto copy = [&](const std::string& stand, const std::string& name) {
    std::string said;
    ASSERT_EQ(run({"--db", dir.file(stand), "--copy", dir.file("office/" + name)}, &said), 0) << said;
  };
  add("a.db", {{standRun(a, "С1", "000201", "2026-03-02 09:00:00"), true},
               {standRun(a, "С1", "000202", "2026-03-02 11:00:00"), true}});
  copy("a.db", "a.db");
  add("b.db", {{standRun(b, "С2", "000211", "2026-03-01 09:30:00"), true},
               {standRun(b, "С2", "000212", "2026-03-02 08:00:00"), false}});
  copy("b.db", "b-yesterday.db");
  // Today run 2 has ended and run 3 is made.
  {
    std::string error;
    auto db = ResultsDb::open(dir.file("b.db"), ResultsDb::Access::Write, &error);
    int64_t two = 2, three = -1;
    ASSERT_TRUE(db && db->record(standRun(b, "С2", "000212", "2026-03-02 08:00:00"), &two, {}, 1, &passed, &error));
    ASSERT_TRUE(db->record(standRun(b, "С2", "000213", "2026-03-02 12:00:00"), &three, {knownPoint(1, 0.25, "0,5")},
                           1, &passed, &error));
  }
  copy("b.db", "b-today.db");
  add("c.db", {{standRun(c, "С2", "000221", "2026-03-02 10:30:00"), true}});
  copy("c.db", "c.db");
  std::filesystem::last_write_time(dir.path() / "office/b-yesterday.db",
                                   std::filesystem::last_write_time(dir.path() / "office/b-today.db") - std::chrono::hours(24));
  std::ofstream(dir.file("office/broken.db"), std::ios::binary) << std::string("SQLite format 3\0", 16) << std::string(4080, 'Z');
  std::map<std::string, std::string> before;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "office"))
    before[e.path().filename().string()] = test::readFile(e.path().string());

  std::string said;
  EXPECT_EQ(run({"--db", dir.file("office"), "--csv", dir.file("all.csv"), "--html", dir.file("all.html")}, &said), 1);
  EXPECT_NE(said.find("broken.db не читается"), std::string::npos) << said;
  EXPECT_NE(said.find("стенды с одним кодом С2: bbbb, cccc"), std::string::npos) << said;
  EXPECT_EQ(said.find("С1:"), std::string::npos);  // one stand of its code: nothing to say
  std::string listing;
  EXPECT_EQ(run({"--db", dir.file("office")}, &listing), 1);
  // Newest first, each run once, numbers that never repeat.
  std::vector<std::string> numbers;
  for (const char* n : {"С2-bbbb-000003", "С1-000002", "С2-cccc-000001", "С1-000001", "С2-bbbb-000002",
                        "С2-bbbb-000001"}) {
    size_t at = listing.find(std::string(n) + " 2026-");
    EXPECT_NE(at, std::string::npos) << n << "\n" << listing;
    numbers.push_back(n);
    if (numbers.size() > 1) {
      EXPECT_LT(listing.find(numbers[numbers.size() - 2]), at) << n;
    }
  }
  size_t lines = 0;
  for (size_t at = listing.find(" 2026-"); at != std::string::npos; at = listing.find(" 2026-", at + 1)) ++lines;
  EXPECT_EQ(lines, 6u);  // each run once
  std::string b2 = listing.substr(listing.find("С2-bbbb-000002"));
  EXPECT_EQ(b2.substr(0, b2.find('\n')).find("завершена"), b2.find("завершена"));  // from today's copy
  EXPECT_NE(b2.substr(0, b2.find('\n')).find("завершена"), std::string::npos);
  std::string csv = test::readFile(dir.file("all.csv"));
  for (const std::string& n : numbers) EXPECT_NE(csv.find("=\"\"" + n + "\"\""), std::string::npos) << n;
  std::string html = pageText(test::readFile(dir.file("all.html")));
  // Protocols in the order the runs were made.
  size_t previous = 0;
  for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
    size_t at = html.find("Протокол поверки № " + *it);
    EXPECT_NE(at, std::string::npos) << *it;
    EXPECT_GE(at, previous) << *it;
    previous = at;
  }
  // Named one by one, the same; and no copy written.
  EXPECT_EQ(run({"--db", dir.file("office/a.db"), "--db", dir.file("office/c.db")}, &listing), 0);
  EXPECT_NE(listing.find("С1-000002 2026-"), std::string::npos) << listing;
  EXPECT_NE(listing.find("С2-000001 2026-"), std::string::npos) << listing;  // one stand of С2 among these
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "office"))
    EXPECT_EQ(test::readFile(e.path().string()), before[e.path().filename().string()]) << e.path();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "office"), {}), 5);
}

// A laboratory's protocol: everything on it comes from the run's record
// (the laboratory, the reference and its due date judged on the run's
// date, the day's conditions against the method's bounds, the operator,
// the program), the error curve with the class band, and a re-test linked
// to its run. The file is the one the printing test prints.
TEST(Records, ALaboratoryProtocolHoldsWhatItsRunWasMadeWith) {
  test::TempDir dir;
  std::string error;
  auto db = ResultsDb::open(dir.file("results.db"), ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  RunInfo lab = knownRun(1, "00A007", "2026-03-05 09:00:00");
  lab.meterType = "Трёхфазный 220 В, 1";
  lab.meterClass = "1";
  lab.meterInterval = 16;
  lab.meterBase = 5;
  lab.measure = "10 3 30 25";
  lab.labName = "Лаборатория поверки";
  lab.labAddress = "г. Энск, ул. Заводская, 1";
  lab.labAccreditation = "RA.RU.000000";
  lab.labMethod = "МП 000-2026";
  lab.temperatureBounds = "15–25";
  lab.humidityBounds = "30–80";
  lab.referenceModel = "ЭУ7125М";
  lab.referenceSerial = "123";
  lab.referenceDue = "2026-12-31";
  lab.conditionsKnown = true;
  lab.temperature = 22.5;
  lab.humidity = 85;
  lab.pressure = 99.8;
  lab.operatorName = "Иванов И. И.";
  lab.software = "qs 0.1.0 (0123456789ab)";
  const char* row1 = "класс 1, ГОСТ 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1";
  std::vector<PointRecord> points;
  const double shares[] = {0.05, 0.1, 0.2, 1, 4, 12};
  for (int k = 0; k < 6; ++k) {
    PointRecord p = knownPoint(1, 0.2 + 0.1 * k, k == 0 ? "1,5" : "1,0");
    p.seq = p.number = k + 1;
    p.I = 5 * shares[k];
    p.limitSource = k == 0 ? "класс 1, ГОСТ 31819.21-2012, табл. 6, 0,05Iб ≤ I < 0,1Iб, cos φ = 1" : row1;
    p.readings.resize(3);
    for (int g = 0; g < 3; ++g) {
      p.readings[g].taken = p.measured;
      for (int n = 0; n < 3; ++n) {
        p.readings[g].fresh[n] = true;
        p.readings[g].channel[n] = p.channel[n] + (g - 1) * 0.002;
      }
    }
    for (int n = 0; n < 3; ++n) {
      p.spreadKnown[n] = true;
      p.spread[n] = 0.004;
    }
    p.pulses = 40;
    p.state = judgePoint(p);
    points.push_back(p);
  }
  points[5].channel[0] = 1.2;  // over 1,0 at 12 Ib: failed
  points[5].state = judgePoint(points[5]);
  PointRecord inductive = points[3];
  inductive.seq = inductive.number = 7;
  inductive.PF = 0.5;
  inductive.load = "L";
  inductive.pulses = 12;
  inductive.warning = "импульсов 12 < 25";
  points.push_back(inductive);
  PointRecord low = points[0];
  low.seq = low.number = 8;
  low.I = 0.1;
  low.limit = "";
  low.limitSource = low.reason = "класс 1: ток ниже 0,05Iб";
  low.state = judgePoint(low);
  points.push_back(low);
  EXPECT_EQ(low.state, PointState::NotJudged);
  RunEndRecord failed = endOf(RunEnd::Finished, "2026-03-05 09:20:00", "failed");
  int64_t first = -1;
  ASSERT_TRUE(db->record(lab, &first, points, 8, &failed, &error)) << error;
  RunInfo again = lab;
  again.started = moscow("2026-03-05 09:30:00");
  again.retestOf = first;
  again.referenceDue = "2026-03-04";  // (as if the day had turned: the reference is out of date)
  again.conditionsKnown = false;
  PointRecord repeated = points[5];
  repeated.seq = 1;
  repeated.channel[0] = 0.6;
  repeated.state = judgePoint(repeated);
  RunEndRecord passed = endOf(RunEnd::Finished, "2026-03-05 09:35:00", "passed");
  int64_t second = -1;
  ASSERT_TRUE(db->record(again, &second, {repeated}, 1, &passed, &error)) << error;
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error)) << error;
  std::vector<ReportRun> full;
  for (const RunRow& r : runs) {
    full.push_back({r, {}});
    ASSERT_TRUE(db->pointsOf(r.id, &full.back().points, &error));
  }
  std::vector<ReportRun> ascending(full.rbegin(), full.rend());
  std::string html = protocolHtml(ascending, "2026-03-10");
  std::string data = std::string(QS_SOURCE_DIR) + "/tests/data/report/";
  if (std::getenv("QS_WRITE_EXPECTED") != nullptr) std::ofstream(data + "protocol-lab.html", std::ios::binary) << html;
  EXPECT_EQ(html, test::readFile(data + "protocol-lab.html"));
  for (const char* text : {"Протокол поверки № 2 (повторно, к протоколу № 1)", "RA.RU.000000", "МП 000-2026",
                           "ЭУ7125М № 123, поверен до 2026-12-31",
                           "влажность 85 % — вне границ методики 30–80",
                           "Заключение не выносится: влажность 85 % вне границ методики 30–80 %.",
                           "Заключение не выносится: эталон применён после срока его поверки.",
                           "температура 22,5 °C (15–25)", "Иванов И. И.", "qs 0.1.0 (0123456789ab)",
                           "поверен до 2026-03-04 — срок поверки истёк до поверки", "[1] класс 1, ГОСТ 31819.21-2012",
                           "Правило решения", "не оценено (класс 1: ток ниже 0,05Iб)", "импульсов 12 &lt; 25",
                           "Дата выдачи2026-03-10", "Протокол утвердил: ____________________ (должность, подпись, Ф. И. О.)"})
    EXPECT_NE(pageText(html).find(text), std::string::npos) << text;
  // Only the value outside the bounds is marked.
  EXPECT_NE(html.find("влажность <span class=\"failed\">85 %</span> — вне границ методики 30–80"), std::string::npos);
  // A failed run, and a passed re-test on an out-of-date reference, are
  // valid for nothing.
  EXPECT_EQ(html.find("Действительно до"), std::string::npos);

  // The chart: a logarithmic axis of shares of Ib over the points, a
  // symmetric one of percent over the widest limit and the values, one
  // band per line, and the one value outside its band marked.
  ChartScale scale = chartScale(points, 5);
  EXPECT_NEAR(scale.xLow, 0.02 / 1.6, 1e-12);
  EXPECT_NEAR(scale.xHigh, 12 * 1.6, 1e-12);
  EXPECT_EQ(scale.xTicks.front(), 0.02);
  EXPECT_EQ(scale.xTicks.back(), 10);
  EXPECT_DOUBLE_EQ(scale.yLimit, 2.0);  // 1,5 and a sixth more, in steps of 0,5
  EXPECT_EQ(scale.yTicks.front(), -scale.yLimit);
  std::string svg = errorChartSvg(points, 5, false);
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("class=\"band\" points="), 2u);  // cos φ = 1 and 0,5 L (the point not judged has none)
  EXPECT_EQ(count("stroke=\"#c00\""), 2u);          // 1,2 at 12 Ib, and the legend's sample
  EXPECT_NE(svg.find("I / Iб"), std::string::npos);
  EXPECT_EQ(errorChartSvg({}, 5, false), "");
  // Without the base current the axis is in amperes; a value far beyond
  // every limit does not flatten the band.
  points[5].channel[0] = 1e6;
  EXPECT_DOUBLE_EQ(chartScale(points, 0).yLimit, 20);
  EXPECT_NE(errorChartSvg(points, 0, false).find("I, А"), std::string::npos);

  // No run starts on a reference past its due date; the due day itself
  // is still within it.
  std::string settings = dir.write("common.sch", "Ref:\tЭУ7125М\t123\t2026-03-04\t\n");
  EXPECT_EQ(metrology::referenceRefusal(settings, "2026-03-04"), "");
  EXPECT_EQ(metrology::referenceRefusal(settings, "2026-03-05"),
            "Срок поверки установки ЭУ7125М № 123 истёк 2026-03-04: поверка невозможна.");
  std::string bad = dir.write("bad.sch", "##\nRef:\tЭУ7125М\t123\t04.03.2026\t\n");
  EXPECT_EQ(metrology::referenceRefusal(bad, "2026-03-05"),
            "Ошибка в настройках: строка 2 файла " + bad + ": Ref, срок поверки «04.03.2026»");
  // A day the calendar does not have is no date.
  bad = dir.write("bad.sch", "Ref:\tЭУ7125М\t123\t2026-02-31\t\n");
  EXPECT_EQ(metrology::referenceRefusal(bad, "2026-01-05"),
            "Ошибка в настройках: строка 1 файла " + bad + ": Ref, срок поверки «2026-02-31»");
  EXPECT_EQ(metrology::referenceRefusal(dir.file("none.sch"), "2026-03-05"), "");
}

TEST(Records, ReportFilesOfAKnownDatabase) {
  test::TempDir dir;
  std::string path = dir.file("results.db");
  knownDatabase(path);
  std::string error;
  auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
  ASSERT_TRUE(db) << error;
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error)) << error;
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].end, RunEnd::Lost);
  EXPECT_EQ(runs[0].verdict, "failed");  // a lost run keeps the failure it recorded
  std::vector<ReportRun> full;
  for (const RunRow& r : runs) {
    full.push_back({r, {}});
    ASSERT_TRUE(db->pointsOf(r.id, &full.back().points, &error));
  }
  // Regenerate with QS_WRITE_EXPECTED=1 after a deliberate change of format.
  std::string data = std::string(QS_SOURCE_DIR) + "/tests/data/report/";
  // (The protocols as the report prints them: in ascending number, issued on a day of the suite's own.)
  std::vector<ReportRun> ascending(full.rbegin(), full.rend());
  std::string csv = pointsCsv(full), html = protocolHtml(ascending, "2026-03-10"), listing = runsListing(runs);
  if (std::getenv("QS_WRITE_EXPECTED") != nullptr) {
    std::ofstream(data + "points.csv", std::ios::binary) << csv;
    std::ofstream(data + "protocol.html", std::ios::binary) << html;
    std::ofstream(data + "listing.txt", std::ios::binary) << listing;
  }
  EXPECT_EQ(csv, test::readFile(data + "points.csv"));
  EXPECT_EQ(html, test::readFile(data + "protocol.html"));
  EXPECT_EQ(listing, test::readFile(data + "listing.txt"));
  // Every line of the listing fits a 100-column console without wrapping.
  for (size_t at = 0, end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = listing.substr(at, end - at);
    EXPECT_LE(std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }), 99) << line;
  }

  // Selections: by serial number however it is written, by the bench's
  // local date (the run of 2026-03-03 12:00 Moscow is 09:00 UTC).
  runs.clear();
  ASSERT_TRUE(db->runs("a001", "", 0, &runs, &error));
  EXPECT_EQ(runs.size(), 2u);
  runs.clear();
  ASSERT_TRUE(db->runs("", "2026-03-03", 0, &runs, &error));
  EXPECT_EQ(runs.size(), 2u);

  // The command: status 0 and the files; 1 and a message without a database.
  EXPECT_EQ(run({"--db", path, "--serial", "012345", "--csv", dir.file("one.csv")}), 0);
  std::string one = test::readFile(dir.file("one.csv"));
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 3);  // the head and the run's two points
  // Without one it says where it looked and how to look elsewhere.
  std::string said;
  EXPECT_EQ(run({"--db", dir.file("none.db")}, &said), 1);
  EXPECT_NE(said.find("нет базы результатов " + std::filesystem::absolute(dir.file("none.db")).lexically_normal().string()),
            std::string::npos) << said;
  EXPECT_NE(said.find("qs report --db"), std::string::npos) << said;
}

// Arguments are read strictly, and no output ever takes the place of the
// database (or of another database); a copy for the office is one moment's.
TEST(Records, TheReportTakesStrictArgumentsAndNeverWritesOverADatabase) {
  test::TempDir dir;
  std::string path = dir.file("results.db");
  knownDatabase(path);
  std::filesystem::copy_file(path, dir.file("results.tmp"));  // a database that a temporary name would take
  std::string before = test::readFile(path), said;
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--last", "abc"}, {"--last", "-3"}, {"--last", "1x"}, {"--since", "2026-99-99"},
        {"--since", "2026-02-30"}, {"--serial", ""}, {"--csv"}, {"--what", "1"}, {"--csv", path},
        {"--html", dir.file("./results.db")}, {"--csv", dir.file("a"), "--html", dir.file("a")},
        {"--copy", path}, {"--csv", path + "-wal"}, {"--csv", dir.file("results")}, {"--copy", dir.file("results")}}) {
    bad.insert(bad.begin(), {"--db", path});
    EXPECT_EQ(run(bad, &said), 1) << bad[2] << " " << (bad.size() > 3 ? bad[3] : "");
    EXPECT_NE(said.find("qs report: "), std::string::npos) << said;
  }
  EXPECT_EQ(test::readFile(path), before);

  EXPECT_EQ(run({"--db", path, "--copy", dir.file("copy.db")}, &said), 0) << said;
  EXPECT_EQ(run({"--db", dir.file("copy.db"), "--csv", dir.file("copy.csv")}), 0);
  EXPECT_EQ(run({"--db", path, "--csv", dir.file("db.csv")}), 0);
  EXPECT_EQ(test::readFile(dir.file("copy.csv")), test::readFile(dir.file("db.csv")));
  // An earlier copy (a database itself) is not written over, nor is a
  // database given as a CSV.
  EXPECT_EQ(run({"--db", path, "--copy", dir.file("copy.db")}), 1);
  EXPECT_EQ(run({"--db", path, "--csv", dir.file("copy.db")}), 1);
  EXPECT_EQ(run({"--db", dir.file("copy.db"), "--last", "1"}), 0);
  // A file per run, named by protocol number and serial number.
  EXPECT_EQ(run({"--db", path, "--html-dir", dir.file("filed"), "--svg", dir.file("charts")}, &said), 0) << said;
  EXPECT_NE(test::readFile(dir.file("filed/protocol-2-012345.html")).find("Протокол поверки № 2"), std::string::npos);
  EXPECT_EQ(test::readFile(dir.file("charts/chart-4-00A003.svg")).rfind("<?xml", 0), 0u);
  EXPECT_EQ(run({"--db", path, "--svg", dir.file("results.db") + "/x"}), 1);  // no folder inside a file
}

// Text fields come back from a spreadsheet as they were written: never a
// formula, a number or a date; a field with ';', '"' or a line break stays
// one field.
TEST(Records, TheCsvKeepsTextAsText) {
  RunRow r;
  r.info = knownRun(1, "012345", "2026-03-01 10:00:00");
  r.info.workstation = "=HYPERLINK(\"http://x\";\"a\")";
  r.info.version = "2.1.5";
  r.info.deviceType = "a;b \"c\"\r\nd <e> & f";
  r.info.programmeKey = "+Ver";
  r.info.programmeFile = "-@prog.txt";
  r.info.serial = "12E034";
  r.info.address = 5;
  PointRecord p = knownPoint(1, 0.25, "0,5");
  p.reason = "@SUM(1;2)";
  p.limitSource = "prog;1.txt:2";
  std::string csv = pointsCsv({{r, {p}}});
  size_t at = 3;
  std::vector<std::string> head = csvRecord(csv, &at), f = csvRecord(csv, &at);
  ASSERT_EQ(f.size(), head.size());
  EXPECT_EQ(at, csv.size());
  auto shown = [&](const char* name) {
    return shownText(f[static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin())]);
  };
  auto raw = [&](const char* name) { return f[static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin())]; };
  EXPECT_EQ(shown("Станция"), r.info.workstation);
  EXPECT_EQ(raw("Станция")[0], '\'');  // not a formula
  EXPECT_EQ(shown("Версия"), "2.1.5");
  EXPECT_EQ(raw("Версия").substr(0, 2), "=\"");  // not a date
  EXPECT_EQ(shown("Серийный номер"), "12E034");
  EXPECT_EQ(raw("Серийный номер").substr(0, 2), "=\"");  // not 1,2E+35
  EXPECT_EQ(shown("Адрес"), "05");
  EXPECT_EQ(shown("Тип"), r.info.deviceType);
  EXPECT_EQ(shown("Программа"), "+Ver");
  EXPECT_EQ(raw("Программа")[0], '\'');
  EXPECT_EQ(shown("Файл программы"), "-@prog.txt");
  EXPECT_EQ(shown("Причина"), "@SUM(1;2)");
  EXPECT_EQ(raw("Причина")[0], '\'');
  EXPECT_EQ(shown("Источник допуска"), "prog;1.txt:2");
  EXPECT_EQ(raw("Канал 1"), "0,250");  // numbers stay numbers
  EXPECT_EQ(raw("Допуск, %"), "0,5");
  std::string html = protocolHtml({{r, {p}}});
  EXPECT_EQ(html.find("<e>"), std::string::npos);
  EXPECT_NE(html.find("a;b &quot;c&quot;\r\nd &lt;e&gt; &amp; f"), std::string::npos);
}

// A verdict stands as it was reached: each point keeps the limit text that
// judged it and the programme line it came from, so a programme changed
// later changes no record; a channel the installation could not measure is
// not measured, never a fresh 0; a limit that is not a number stops the
// programme from loading.
TEST(Records, AVerdictKeepsItsLimitAndSourceWhateverBecomesOfTheProgramme) {
  discardWaitingRecords();
  test::TempDir dir;
  std::string settings = dir.file("common.sch"), programme = dir.file("prog.txt");
  std::ofstream(settings) << "Ver:\t1\t2\t3\tT\tprog.txt\t\n";
  std::ofstream(programme) << "## limits in the last field\n"
                              "A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t0,125\n"
                              "A1_2\t220\t100\t5\t50\t0.5\tL\t0\t0\t0\tAB\t0.5\n"
                              "A1_3\t220\t100\t5\t20\t0.8\tC\t0\t0\t0\tBC\t \n";
  ZuController zu;
  ASSERT_EQ(zu.loadProgramme(settings, "Ver", 66051, 0, 1), 0);
  ASSERT_EQ(zu.testPoints.size(), 3u);
  EXPECT_EQ(zu.testPoints[2].limit, "");  // a blank field: no limit
  RunRecorder recorder(dir.file("results.db"), knownRun(1, "00A001", "2026-03-01 10:00:00"));
  MeterMenu::PointValues measured;
  measured.averageFresh = true;
  for (int n = 0; n < 3; ++n) {
    measured.channelFresh[n] = true;
    measured.channel[n] = 0.124;
  }
  MeterMenu::PointValues channelError = measured;
  channelError.channel[1] = std::nan("");  // the installation's error frame for channel 2
  std::vector<PointRecord> shown = {recordOfPoint(zu.testPoints[0], zu.programmeFile, measured, 1500, nullptr),
                                    recordOfPoint(zu.testPoints[1], zu.programmeFile, channelError, 15200, nullptr),
                                    recordOfPoint(zu.testPoints[2], zu.programmeFile, measured, 2100, nullptr)};
  for (PointRecord& p : shown) recorder.point(p);
  EXPECT_EQ(recorder.finish(true), "not measured");
  // The run has ended: the database file alone holds it, while the bench
  // still has it open (a copy made by hand takes no journal with it).
  std::filesystem::copy_file(dir.file("results.db"), dir.file("by-hand.db"));
  {
    std::string error;
    auto copy = ResultsDb::open(dir.file("by-hand.db"), ResultsDb::Access::Read, &error);
    ASSERT_TRUE(copy) << error;
    RunRow ended;
    ASSERT_TRUE(copy->run(1, &ended, &error)) << error;
    EXPECT_EQ(ended.end, RunEnd::Finished);
    EXPECT_EQ(ended.recorded, 3);
  }
  EXPECT_EQ(shown[0].state, PointState::Passed);  // 0,124 within 0,125
  EXPECT_EQ(shown[1].state, PointState::NotMeasured);
  EXPECT_EQ(shown[1].reason, "ошибка канала 2");
  EXPECT_EQ(recorder.waiting(), 0);

  // The programme changed afterwards: the records are as they were. A
  // limit field that is there but no number refuses the programme.
  std::ofstream(programme, std::ios::trunc) << "A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t0.01\n"
                                               "A1_2\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0 %\n";
  EXPECT_EQ(zu.loadProgramme(settings, "Ver", 66051, 0, 1), -4);
  EXPECT_EQ(zu.programmeError, "Ошибка в строке 2 программы " + zu.programmeFile + ": допуск «1,0 %»: не число");
  EXPECT_TRUE(zu.testPoints.empty());
  std::string error;
  auto db = ResultsDb::open(dir.file("results.db"), ResultsDb::Access::Read, &error);
  std::vector<PointRecord> kept;
  ASSERT_TRUE(db->pointsOf(1, &kept, &error)) << error;
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].state, PointState::Passed);
  EXPECT_EQ(kept[0].limit, "0,125");
  EXPECT_EQ(kept[0].limitSource, zu.programmeFile + ":2");
  EXPECT_FALSE(kept[1].channelFresh[1]);
  EXPECT_EQ(kept[1].reason, "ошибка канала 2");
  EXPECT_EQ(kept[2].state, PointState::Unjudged);
  EXPECT_EQ(kept[2].limitSource, "");
  EXPECT_EQ(kept[1].durationMs, 15200);
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error));
  EXPECT_EQ(runs[0].verdict, "not measured");
  EXPECT_FALSE(runs[0].incomplete());
  std::string html = protocolHtml({{runs[0], kept}});
  EXPECT_NE(html.find("<td>0,124</td><td>0,124</td><td>0,124</td><td>-</td><td>0,125</td>"), std::string::npos);
  EXPECT_NE(pageText(html).find("не измерено (ошибка канала 2)"), std::string::npos);
}

// A record that cannot be written now waits and is written with the next
// point, at the end, or when the program ends; the database counts the
// points shown, and a run short of them gives no verdict. A reader never
// holds up a writer.
TEST(Records, RecordsThatCannotBeWrittenWaitAndAreNeverLost) {
  discardWaitingRecords();
  test::TempDir dir;
  std::string path = dir.file("results.db");
  sqlite3* other = nullptr;
  { RunRecorder first(path, knownRun(1, "00A001", "2026-03-01 10:00:00")); first.finish(true); }
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  auto counts = [&](int64_t id) {
    std::string error;
    auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
    std::vector<RunRow> runs;
    EXPECT_TRUE(db && db->runs("", "", 0, &runs, &error)) << error;
    for (const RunRow& r : runs)
      if (r.id == id) return std::make_pair(r.shown, r.recorded);
    return std::make_pair(-1, -1);
  };
  {
    RunRecorder rec(path, knownRun(1, "00A001", "2026-03-01 11:00:00"));
    // A report's (or a browser's) read transaction: the bench writes on.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM points;", nullptr, nullptr, nullptr), SQLITE_OK);
    PointRecord p1 = knownPoint(1, 0.25, "0,5");
    rec.point(p1);
    EXPECT_EQ(rec.waiting(), 0) << rec.problem();
    EXPECT_EQ(counts(2), std::make_pair(1, 1));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    // Another writer holds the file past the time-out: points wait.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    PointRecord p2 = knownPoint(2, 0.75, "0,5"), p3 = knownPoint(3, 0.25, "0,5");
    rec.point(p2);
    rec.point(p3);
    EXPECT_EQ(p2.state, PointState::Failed);  // judged whether or not it was kept
    EXPECT_EQ(rec.waiting(), 2);
    EXPECT_NE(rec.problem().find("locked"), std::string::npos) << rec.problem();
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    PointRecord p4 = knownPoint(4, 0.25, "0,5");
    rec.point(p4);  // the next point takes the waiting ones with it
    EXPECT_EQ(rec.waiting(), 0);
    EXPECT_EQ(rec.problem(), "");
    EXPECT_EQ(counts(2), std::make_pair(4, 4));
    // The end cannot be written: it waits past the run, and is written
    // when the program ends.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(rec.finish(true), "failed");
    EXPECT_TRUE(rec.endWaiting());
  }
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  writeWaitingRecords();
  std::string error;
  auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].end, RunEnd::Finished);
  EXPECT_EQ(runs[0].verdict, "failed");
  // A run whose record lost a point (as the first layout could) gives no
  // verdict anywhere.
  sqlite3_exec(other, "DELETE FROM points WHERE run_id = 2 AND seq = 2", nullptr, nullptr, nullptr);
  runs.clear();
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error));
  EXPECT_TRUE(runs[0].incomplete());
  EXPECT_NE(runsListing(runs).find("запись неполная"), std::string::npos);
  EXPECT_NE(protocolHtml({{runs[0], {}}}).find("Запись неполная: на стенде показано точек 4, в записи 3"),
            std::string::npos);
  EXPECT_EQ(protocolHtml({{runs[0], {}}}).find("Заключение:"), std::string::npos);
  sqlite3_close(other);

  // A database that is read-only, damaged, or a folder: the run goes on,
  // its points wait, and the reason is told.
  auto spoiled = [&](const std::string& where) {
    discardWaitingRecords();
    RunRecorder rec(where, knownRun(1, "00A001", "2026-03-01 12:00:00"));
    PointRecord p = knownPoint(1, 0.25, "0,5");
    rec.point(p);
    EXPECT_EQ(rec.finish(true), "passed");
    EXPECT_EQ(rec.waiting(), 1);
    return rec.problem();
  };
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  if (std::FILE* f = std::fopen(path.c_str(), "r+")) {
    std::fclose(f);  // (an administrator writes it all the same: nothing to try)
  } else {
    EXPECT_NE(spoiled(path).find("readonly"), std::string::npos);
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  std::ofstream(dir.file("damaged.db"), std::ios::binary) << std::string(4096, 'Z');
  EXPECT_NE(spoiled(dir.file("damaged.db")).find("not a database"), std::string::npos);
  EXPECT_EQ(run({"--db", dir.file("damaged.db")}), 1);
  EXPECT_FALSE(spoiled(dir.file("")).empty());
  discardWaitingRecords();
#ifndef _WIN32
  // A file system that cannot keep the journal's index (as a network share):
  // the bench says so, and every record is still written.
  sqlite3_vfs* normal = sqlite3_vfs_find(nullptr);
  sqlite3_vfs* withoutShm = sqlite3_vfs_find("unix-dotfile");
  ASSERT_NE(withoutShm, nullptr);
  sqlite3_vfs_register(withoutShm, 1);
  {
    RunRecorder rec(dir.file("share.db"), knownRun(1, "00A001", "2026-03-01 12:00:00"));
    PointRecord p = knownPoint(1, 0.25, "0,5");
    rec.point(p);
    EXPECT_EQ(rec.finish(true), "passed");
    EXPECT_EQ(rec.note(), kNoWalText);
    EXPECT_EQ(rec.waiting(), 0);
    EXPECT_EQ(rec.problem(), "");
  }
  sqlite3_vfs_register(normal, 1);
  {
    RunRecorder rec(dir.file("local.db"), knownRun(1, "00A001", "2026-03-01 12:00:00"));
    EXPECT_EQ(rec.note(), "");
  }
  discardWaitingRecords();
#endif
}

// A run going on when the program is ended from outside (its window closed,
// Ctrl-C) ends as interrupted with the points it showed and why; what the
// bench does after that (another point, its own finish) changes nothing.
// A database that another writer holds past the time given leaves the run
// as it was, to be found lost, never half written, and the time is kept.
TEST(Records, ARunEndedFromOutsideKeepsItsPointsAndWhy) {
  discardWaitingRecords();
  test::TempDir dir;
  std::string path = dir.file("results.db");
  auto runsNow = [&] {
    std::string error;
    std::vector<RunRow> runs;
    auto db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
    EXPECT_TRUE(db && db->runs("", "", 0, &runs, &error)) << error;
    return runs;
  };
  {
    RunRecorder rec(path, knownRun(1, "00A001", "2026-03-01 10:00:00"));
    PointRecord p1 = knownPoint(1, 0.25, "0,5"), p2 = knownPoint(2, 0.25, "0,5"), p3 = knownPoint(3, 0.25, "0,5");
    rec.point(p1);
    rec.point(p2);
    EXPECT_TRUE(endOpenRuns("окно закрыто", 3000));
    EXPECT_EQ(rec.endReason(), "окно закрыто");
    rec.point(p3);
    EXPECT_EQ(rec.finish(true), "not measured");
  }
  writeWaitingRecords();
  std::vector<RunRow> runs = runsNow();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].end, RunEnd::Interrupted);
  EXPECT_EQ(runs[0].verdict, "not measured");
  EXPECT_EQ(runs[0].endReason, "окно закрыто");
  EXPECT_TRUE(runs[0].ended.known());
  EXPECT_EQ(runs[0].shown, 2);
  EXPECT_EQ(runs[0].recorded, 2);

  discardWaitingRecords();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  {
    RunRecorder rec(path, knownRun(1, "00A002", "2026-03-01 11:00:00"));
    PointRecord p1 = knownPoint(1, 0.25, "0,5"), p2 = knownPoint(2, 0.25, "0,5");
    rec.point(p1);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    rec.point(p2);  // waits
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(endOpenRuns("Ctrl-C", 600));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  }
  writeWaitingRecords();  // (the program ends: nothing more is written)
  sqlite3_close(other);
  runs = runsNow();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].info.serial, "00A002");
  EXPECT_EQ(runs[0].end, RunEnd::Open);
  EXPECT_EQ(runs[0].shown, 1);
  EXPECT_EQ(runs[0].recorded, 1);
  discardWaitingRecords();
}

// A file outlives the program that wrote it: the first layout is brought
// forward (times to UTC with their offset, a point it dropped seen as a
// record short of its points), a reader reads an old file without changing
// it, a newer file is read but never written, run numbers are never given
// twice, and runs keep their order whatever the clock did.
TEST(Records, FilesOfEarlierAndLaterVersions) {
  test::TempDir dir;
  std::string path = dir.file("results.db");
  std::filesystem::copy_file(std::string(QS_SOURCE_DIR) + "/tests/data/report/v0-results.db", path);
  std::string before = test::readFile(path), error;
  std::vector<RunRow> read;
  {
    auto reader = ResultsDb::open(path, ResultsDb::Access::Read, &error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->fileVersion(), 0);
    ASSERT_TRUE(reader->runs("", "", 0, &read, &error)) << error;
  }
  EXPECT_EQ(test::readFile(path), before);
  auto db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error)) << error;
  ASSERT_EQ(runs.size(), 5u);
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(localText(runs[i].info.started), localText(read[i].info.started));
    EXPECT_EQ(runs[i].incomplete(), read[i].incomplete());
  }
  EXPECT_EQ(localText(runs[4].info.started), "2026-03-01 10:00:00");  // as the bench showed it, in any zone
  EXPECT_EQ(runs[2].id, 3);
  EXPECT_TRUE(runs[2].incomplete());  // its point 2 was dropped: no verdict over the other two
  EXPECT_EQ(runs[2].shown, 3);
  std::vector<PointRecord> points;
  ASSERT_TRUE(db->pointsOf(1, &points, &error));
  EXPECT_EQ(points[1].limit, "0,5");
  EXPECT_EQ(points[1].state, PointState::Passed);
  sqlite3* h = db->handle();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(h, "PRAGMA application_id", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), kApplicationId);
  sqlite3_finalize(st);

  // A run deleted at the end: its number is not given again. Runs started
  // in the repeated hour of a clock change keep the order they came in.
  ASSERT_EQ(sqlite3_exec(h, "DELETE FROM points WHERE run_id = 5; DELETE FROM runs WHERE id = 5", nullptr, nullptr,
                         nullptr), SQLITE_OK);
  RunInfo late = knownRun(1, "00A009", "2026-10-25 02:30:00"), early = knownRun(1, "00A009", "2026-10-25 02:10:00");
  early.started.utc = late.started.utc + 600;  // an hour later in UTC, earlier on the clock
  early.started.offsetMin = 120;
  int64_t a = -1, b = -1;
  ASSERT_TRUE(db->record(late, &a, {}, 0, nullptr, &error)) << error;
  ASSERT_TRUE(db->record(early, &b, {}, 0, nullptr, &error)) << error;
  EXPECT_EQ(a, 6);
  runs.clear();
  ASSERT_TRUE(db->runs("", "", 2, &runs, &error));
  EXPECT_EQ(runs[0].id, b);
  EXPECT_EQ(runs[1].id, a);
  db.reset();

  // A file of the layout before readings were kept: brought forward with
  // every record whole, and it takes points with their readings after.
  sqlite3* older = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &older), SQLITE_OK);
  std::string drop = "DROP TABLE readings; DROP INDEX runs_retest; PRAGMA user_version = 1;";
  for (const char* c : {"meter_type", "meter_class", "type_note", "measure", "retest_of", "meter_interval", "lab_name",
                        "lab_address", "lab_accreditation", "lab_method", "temperature_bounds", "humidity_bounds",
                        "pressure_bounds", "reference_model", "reference_serial", "reference_due", "temperature",
                        "humidity", "pressure", "operator", "software", "meter_base", "meter_transformer",
                        "programme_title"})
    drop += std::string("ALTER TABLE runs DROP COLUMN ") + c + ";";
  for (const char* c : kFourthLayoutColumns) drop += std::string("ALTER TABLE runs DROP COLUMN ") + c + ";";
  for (const char* c : {"spread1", "spread2", "spread3", "settling_ms", "pulses", "warning"})
    drop += std::string("ALTER TABLE points DROP COLUMN ") + c + ";";
  ASSERT_EQ(sqlite3_exec(older, drop.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(older);
  sqlite3_close(older);
  db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->fileVersion(), 1);
  points.clear();
  ASSERT_TRUE(db->pointsOf(1, &points, &error)) << error;
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[1].limit, "0,5");
  EXPECT_TRUE(points[1].readings.empty());
  PointRecord more = points[1];
  more.seq = 3;
  more.readings.resize(2);
  more.readings[1].fresh[2] = true;
  more.readings[1].channel[2] = 0.25;
  int64_t one = 1;
  ASSERT_TRUE(db->record(knownRun(1, "00A001", "2026-03-01 10:00:00"), &one, {more}, 3, nullptr, &error)) << error;
  points.clear();
  ASSERT_TRUE(db->pointsOf(1, &points, &error)) << error;
  ASSERT_EQ(points.size(), 3u);
  ASSERT_EQ(points[2].readings.size(), 2u);
  EXPECT_FALSE(points[2].readings[0].fresh[2]);
  EXPECT_EQ(points[2].readings[1].channel[2], 0.25);
  db.reset();

  // A file of the layout before programme titles: its runs come through
  // whole, untitled, and a run written after keeps its title.
  ASSERT_EQ(sqlite3_open(path.c_str(), &older), SQLITE_OK);
  std::string third = "ALTER TABLE runs DROP COLUMN programme_title; PRAGMA user_version = 2;";
  for (const char* c : kFourthLayoutColumns) third += std::string("ALTER TABLE runs DROP COLUMN ") + c + ";";
  ASSERT_EQ(sqlite3_exec(older, third.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(older);
  sqlite3_close(older);
  db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->fileVersion(), 2);
  std::vector<RunRow> titled;
  ASSERT_TRUE(db->runs("", "", 0, &titled, &error)) << error;
  EXPECT_EQ(titled.size(), 6u);
  for (const RunRow& r : titled) EXPECT_EQ(r.info.programmeTitle, "");
  int64_t next = -1;
  RunInfo named = knownRun(2, "00A010", "2026-03-05 10:00:00");
  ASSERT_TRUE(db->record(named, &next, {}, 0, nullptr, &error)) << error;
  RunRow back;
  ASSERT_TRUE(db->run(next, &back, &error)) << error;
  EXPECT_EQ(back.info.programmeTitle, named.programmeTitle);
  EXPECT_FALSE(named.programmeTitle.empty());
  db.reset();

  // A file of the layout before the registry's fields: its runs come
  // through whole, periodic verifications of no owner yet, and a run written
  // after keeps every field of the registry's record and its end's reason.
  ASSERT_EQ(sqlite3_open(path.c_str(), &older), SQLITE_OK);
  std::string fourth = "PRAGMA user_version = 3;";
  for (const char* c : kFourthLayoutColumns) fourth += std::string("ALTER TABLE runs DROP COLUMN ") + c + ";";
  ASSERT_EQ(sqlite3_exec(older, fourth.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(older);
  sqlite3_close(older);
  db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->fileVersion(), 3);
  std::vector<RunRow> before4;
  ASSERT_TRUE(db->runs("", "", 0, &before4, &error)) << error;
  EXPECT_EQ(before4.size(), 7u);
  for (const RunRow& r : before4) EXPECT_EQ(std::make_tuple(r.info.owner, r.info.verificationKind, r.endReason),
                                            std::make_tuple(std::string(), 2, std::string()));
  RunInfo registered = knownRun(2, "00A011", "2026-03-06 10:00:00");
  registered.owner = "ООО «Пример» & сын";
  registered.verificationKind = 1;
  registered.registerNumber = "36697-17";
  registered.modification = "Нет модификации";
  registered.signCipher = "АБВ";
  registered.signPass = true;
  registered.referenceFund = "20189.07.РЭ.01351";
  registered.standCode = "С2";
  RunEndRecord closed = endOf(RunEnd::Interrupted, "2026-03-06 10:05:00", "");
  closed.reason = "окно закрыто";
  next = -1;
  ASSERT_TRUE(db->record(registered, &next, {}, 0, &closed, &error)) << error;
  ASSERT_TRUE(db->run(next, &back, &error)) << error;
  EXPECT_EQ(std::make_tuple(back.info.owner, back.info.verificationKind, back.info.registerNumber,
                            back.info.modification, back.info.signCipher, back.info.signPass, back.info.signMi,
                            back.info.referenceFund, back.info.standCode, back.endReason),
            std::make_tuple(registered.owner, 1, registered.registerNumber, registered.modification, registered.signCipher,
                            true, false, registered.referenceFund, registered.standCode, std::string("окно закрыто")));
  db.reset();

  // A file of a newer qs: read, never written.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "PRAGMA user_version = 9", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  EXPECT_EQ(ResultsDb::open(path, ResultsDb::Access::Write, &error), nullptr);
  EXPECT_EQ(error, kNewerFileText);
  discardWaitingRecords();
  {
    RunRecorder rec(path, knownRun(1, "00A001", "2026-03-01 12:00:00"));
    EXPECT_EQ(rec.problem(), kNewerFileText);
    rec.finish(true);
  }
  discardWaitingRecords();
  EXPECT_EQ(run({"--db", path, "--last", "1"}), 0);
  // Another program's database is not ours to read or write.
  std::string foreign = dir.file("other.db");
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "CREATE TABLE t(x); PRAGMA application_id = 7;", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  EXPECT_EQ(ResultsDb::open(foreign, ResultsDb::Access::Write, &error), nullptr);
  EXPECT_EQ(error, "не база результатов qs");
}

// Benches of a stand start their runs at once on a database none of them
// has made yet: every one of them opens it as the results database that
// one of them made, never as another program's file.
TEST(Records, BenchesOpeningANewDatabaseAtOnceAllFindIt) {
  test::TempDir dir;
  for (int round = 0; round < 40; ++round) {
    std::string path = dir.file("results" + std::to_string(round) + ".db");
    std::atomic<int> ready{0};
    std::vector<std::string> errors(6);
    std::vector<std::thread> benches;
    for (size_t n = 0; n < errors.size(); ++n) {
      benches.emplace_back([&, n] {
        ++ready;
        while (ready < static_cast<int>(errors.size())) std::this_thread::yield();
        if (!ResultsDb::open(path, ResultsDb::Access::Write, &errors[n])) return;
        errors[n] = "opened";
      });
    }
    for (auto& t : benches) t.join();
    for (const std::string& e : errors) ASSERT_EQ(e, "opened") << "round " << round;
  }
}

// Lost runs are found only on the computer that lost them (its identity,
// not its name), keep the verdict of their recorded points, and a report
// shows a run whose writer is gone as lost, never as going on.
TEST(Records, LostRunsAreFoundOnlyWhereTheyAreLost) {
  test::TempDir dir;
  std::string path = dir.file("results.db"), error;
  std::string here = platform::stationIdentity(dir.file("station.id"));
  EXPECT_EQ(here.size(), 32u);
  EXPECT_EQ(platform::stationIdentity(dir.file("station.id")), here);  // made once, kept
  EXPECT_EQ(platform::stationIdentity(dir.file("none/station.id"), false), "");
  // Benches that start at once on a computer without an identity all take
  // the one identity that one of them made.
  for (int round = 0; round < 20; ++round) {
    std::string file = dir.file("station" + std::to_string(round) + ".id");
    std::vector<std::string> ids(6);
    std::atomic<int> ready{0};
    std::vector<std::thread> benches;
    for (size_t n = 0; n < ids.size(); ++n)
      benches.emplace_back([&, n] {
        ++ready;
        while (ready < static_cast<int>(ids.size())) std::this_thread::yield();
        ids[n] = platform::stationIdentity(file);
      });
    for (auto& t : benches) t.join();
    for (const std::string& id : ids) ASSERT_EQ(id, ids[0]) << "round " << round;
    ASSERT_EQ(ids[0].size(), 32u);
  }
  auto db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  RunInfo ours = knownRun(1, "00A001", "2026-03-01 10:00:00"), theirs = ours;
  ours.station = here;
  ours.pid = 0;  // its process is gone
  theirs.station = "ffffffffffffffffffffffffffffffff";  // another computer of the same name
  theirs.pid = 0;
  record(*db, ours, {knownPoint(1, 0.75, "0,5"), knownPoint(2, 0.25, "0,5")}, nullptr);
  record(*db, theirs, {knownPoint(1, 0.25, "0,5")}, nullptr);
  db.reset();
  // The report shows the run lost and leaves the file byte for byte as it
  // was: the bench that next starts here marks it.
  std::string before = test::readFile(path);
  std::string listing;
  ASSERT_EQ(run({"--db", path}, &listing, dir.file("station.id")), 0);
  EXPECT_NE(listing.find("потеряна  не годен"), std::string::npos) << listing;
  EXPECT_NE(listing.find("идёт"), std::string::npos) << listing;  // the other computer's run
  EXPECT_EQ(test::readFile(path), before);
  EXPECT_FALSE(std::filesystem::exists(path + "-wal") && std::filesystem::file_size(path + "-wal") > 0);
  db = ResultsDb::open(path, ResultsDb::Access::Write, &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->markLostRuns(here, ours.workstation, &error), 1);
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error));
  EXPECT_EQ(runs[1].end, RunEnd::Lost);
  EXPECT_EQ(runs[1].verdict, "failed");
  EXPECT_EQ(runs[0].end, RunEnd::Open);  // the other computer's: not ours to tell
  EXPECT_EQ(db->markLostRuns(here, ours.workstation, &error), 0);
  // A process that runs is not lost; one whose start cannot be told is
  // taken as running.
  RunRow alive;
  alive.info = knownRun(1, "", "2026-03-01 10:00:00");
  alive.info.station = here;
  EXPECT_FALSE(writerGone(alive, here, "X"));
  alive.info.pidMark = 0;
  EXPECT_FALSE(writerGone(alive, here, "X"));
  alive.info.pidMark = platform::processStartMark(alive.info.pid) + 1;
  EXPECT_TRUE(writerGone(alive, here, "X"));  // its id was given to a later process
}

}  // namespace
}  // namespace qs::records
