// The verification records: what a run and its points keep, the verdicts,
// lost runs, the report's files, and faults of the database that must never
// stop a run.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "meter/meter_menu.h"
#include "platform/process.h"
#include "records/report.h"
#include "records/run_recorder.h"
#include "support/test_support.h"
#include "zu/zu_controller.h"

namespace qs::records {
namespace {

RunInfo knownRun(int bench, const std::string& serial, const std::string& started) {
  RunInfo r;
  r.started = started;
  r.workstation = "BENCH-PC";
  r.bench = bench;
  r.address = 0x21;
  r.serial = serial;
  r.deviceType = "3Ф4П(220В)";
  r.version = "1.0.2";
  r.programmeKey = "Ver";
  r.programmeId = 66051;
  r.programmeFile = "QS_ADD/prog.txt";
  return r;
}

PointRecord knownPoint(int number, double c1, double limit) {
  PointRecord p;
  p.number = number;
  p.U = 220;
  p.I = 5;
  p.PF = number == 2 ? 0.5 : 1;
  p.load = number == 2 ? "L" : "";
  p.phases = number == 2 ? "AB" : "ABC";
  p.averageFresh = true;
  p.average = 1100.1254;
  p.channelFresh[0] = p.channelFresh[1] = p.channelFresh[2] = true;
  p.channel[0] = c1;
  p.channel[1] = -0.0612;
  p.channel[2] = 0.1234;
  p.measured = "2026-03-01 10:0" + std::to_string(number) + ":00";
  p.durationMs = 12500 + number * 1000;
  p.limit = limit;
  if (limit >= 0) p.limitSource = "QS_ADD/prog.txt:" + std::to_string(number + 1);
  return p;
}

// A database as benches leave it: a passed run, a failed one with a point
// not measured, an interrupted one without limits, a run of a bench that
// was killed (lost).
void knownDatabase(const std::string& path) {
  std::string error;
  auto db = ResultsDb::open(path, true, &error);
  ASSERT_TRUE(db) << error;
  int64_t a = db->startRun(knownRun(1, "00A001", "2026-03-01 10:00:00"), &error);
  for (int n = 1; n <= 2; ++n) {
    PointRecord p = knownPoint(n, 0.25, 0.5);
    p.seq = n;
    p.state = judgePoint(p);
    ASSERT_TRUE(db->addPoint(a, p, &error)) << error;
  }
  ASSERT_TRUE(db->endRun(a, RunEnd::Finished, "2026-03-01 10:05:00", "passed", &error));
  int64_t b = db->startRun(knownRun(2, "00A002", "2026-03-02 11:00:00"), &error);
  PointRecord fail = knownPoint(1, 0.75, 0.5);
  fail.seq = 1;
  fail.state = judgePoint(fail);
  PointRecord missing = knownPoint(2, 0, 0.5);
  missing.seq = 2;
  missing.channelFresh[2] = false;
  missing.reason = "нет новых значений каналов";
  missing.state = judgePoint(missing);
  ASSERT_TRUE(db->addPoint(b, fail, &error) && db->addPoint(b, missing, &error)) << error;
  ASSERT_TRUE(db->endRun(b, RunEnd::Finished, "2026-03-02 11:05:00", "failed", &error));
  int64_t c = db->startRun(knownRun(0, "00A001", "2026-03-03 12:00:00"), &error);
  PointRecord plain = knownPoint(1, 0.25, -1);
  plain.seq = 1;
  ASSERT_TRUE(db->addPoint(c, plain, &error));
  ASSERT_TRUE(db->endRun(c, RunEnd::Interrupted, "2026-03-03 12:01:00", "", &error));
  RunInfo killed = knownRun(3, "00A003", "2026-03-04 09:00:00");
  killed.pid = 0;  // no such process: the run is found lost
  ASSERT_GT(db->startRun(killed, &error), 0);
  EXPECT_EQ(db->markLostRuns("BENCH-PC", &error), 1);
}

TEST(Records, VerdictsOfPointsAndRuns) {
  PointRecord p = knownPoint(1, 0.5, 0.5);
  EXPECT_EQ(judgePoint(p), PointState::Passed);  // the limit itself passes
  p.channel[1] = -0.51;
  EXPECT_EQ(judgePoint(p), PointState::Failed);  // a negative error counts by its size
  p.channelFresh[1] = false;
  EXPECT_EQ(judgePoint(p), PointState::NotMeasured);  // no value is never a pass or a fail
  p.limit = -1;
  EXPECT_EQ(judgePoint(p), PointState::NotMeasured);
  p.channelFresh[1] = true;
  EXPECT_EQ(judgePoint(p), PointState::Unjudged);

  using S = PointState;
  EXPECT_EQ(runVerdict({S::Passed, S::Passed}, true, true), "passed");
  EXPECT_EQ(runVerdict({S::Passed, S::Passed}, true, false), "not measured");  // interrupted: not all measured
  EXPECT_EQ(runVerdict({S::NotMeasured, S::Failed}, true, true), "failed");
  EXPECT_EQ(runVerdict({S::Passed, S::NotMeasured}, true, true), "not measured");
  EXPECT_EQ(runVerdict({S::Unjudged, S::NotMeasured}, false, true), "");  // no limit: no verdict
}

TEST(Records, ReportFilesOfAKnownDatabase) {
  test::TempDir dir;
  std::string path = dir.file("results.db");
  knownDatabase(path);
  std::string error;
  auto db = ResultsDb::open(path, false, &error);
  ASSERT_TRUE(db) << error;
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error)) << error;
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].end, RunEnd::Lost);
  std::vector<ReportRun> full;
  for (const RunRow& r : runs) {
    full.push_back({r, {}});
    ASSERT_TRUE(db->pointsOf(r.id, &full.back().points, &error));
  }
  // Regenerate with QS_WRITE_EXPECTED=1 after a deliberate change of format.
  std::string data = std::string(QS_SOURCE_DIR) + "/tests/data/report/";
  std::string csv = pointsCsv(full), html = protocolHtml(full), listing = runsListing(runs);
  if (std::getenv("QS_WRITE_EXPECTED") != nullptr) {
    std::ofstream(data + "points.csv", std::ios::binary) << csv;
    std::ofstream(data + "protocol.html", std::ios::binary) << html;
    std::ofstream(data + "listing.txt", std::ios::binary) << listing;
  }
  EXPECT_EQ(csv, test::readFile(data + "points.csv"));
  EXPECT_EQ(html, test::readFile(data + "protocol.html"));
  EXPECT_EQ(listing, test::readFile(data + "listing.txt"));

  // Selections: by serial number however it is written, by date.
  runs.clear();
  ASSERT_TRUE(db->runs("a001", "", 0, &runs, &error));
  EXPECT_EQ(runs.size(), 2u);
  runs.clear();
  ASSERT_TRUE(db->runs("", "2026-03-03", 0, &runs, &error));
  EXPECT_EQ(runs.size(), 2u);

  // The command: status 0 and the files; 1 and a message without a database.
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  EXPECT_EQ(runReport({"--db", path, "--serial", "00A002", "--csv", dir.file("one.csv")}, out, err), 0);
  std::string one = test::readFile(dir.file("one.csv"));
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 3);  // the head and the run's two points
  EXPECT_EQ(runReport({"--db", dir.file("none.db")}, out, err), 1);
  EXPECT_EQ(runReport({"--db", path, "--since", "March"}, out, err), 1);
  std::fclose(out);
  std::fclose(err);
}

// A verdict stands as it was reached: each point keeps the limit that judged
// it and the programme line it came from, so a programme changed later
// changes no record; a point without fresh values is not measured, never
// passed; each point keeps how long it took.
TEST(Records, AVerdictKeepsItsLimitAndSourceWhateverBecomesOfTheProgramme) {
  test::TempDir dir;
  std::string settings = dir.file("common.sch"), programme = dir.file("prog.txt");
  std::ofstream(settings) << "Ver:\t1\t2\t3\tT\tprog.txt\t\n";
  std::ofstream(programme) << "## limits in the last field\n"
                              "A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t0,5\n"
                              "A1_2\t220\t100\t5\t50\t0.5\tL\t0\t0\t0\tAB\t0.5\n"
                              "A1_3\t220\t100\t5\t20\t0.8\tC\t0\t0\t0\tBC\n";
  ZuController zu;
  ASSERT_EQ(zu.loadProgramme(settings, "Ver", 66051, 0, 1), 0);
  ASSERT_EQ(zu.testPoints.size(), 3u);
  EXPECT_EQ(zu.testPoints[2].limit, -1);  // older lines: no limit
  RunRecorder recorder(dir.file("results.db"), knownRun(1, "00A001", localStamp()));
  MeterMenu::PointValues measured;
  measured.averageFresh = true;
  for (int n = 0; n < 3; ++n) {
    measured.channelFresh[n] = true;
    measured.channel[n] = 0.25;
  }
  MeterMenu::PointValues starved = measured;
  starved.channelFresh[1] = false;
  starved.channel[1] = 0.0;  // (a value within any limit, that never came)
  std::vector<PointRecord> shown = {recordOfPoint(zu.testPoints[0], zu.programmeFile, measured, 1500, nullptr),
                                    recordOfPoint(zu.testPoints[1], zu.programmeFile, starved, 15200, nullptr),
                                    recordOfPoint(zu.testPoints[2], zu.programmeFile, measured, 2100, nullptr)};
  for (PointRecord& p : shown) recorder.point(p);
  EXPECT_EQ(recorder.finish(true), "not measured");
  EXPECT_EQ(shown[1].state, PointState::NotMeasured);
  EXPECT_EQ(shown[1].reason, "нет новых значений каналов");

  // The programme changed afterwards: the records are as they were.
  std::ofstream(programme, std::ios::trunc) << "A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t0.01\n";
  ASSERT_EQ(zu.loadProgramme(settings, "Ver", 66051, 0, 1), 0);
  EXPECT_EQ(zu.testPoints[0].limit, 0.01);
  std::string error;
  auto db = ResultsDb::open(dir.file("results.db"), false, &error);
  std::vector<PointRecord> kept;
  ASSERT_TRUE(db->pointsOf(1, &kept, &error)) << error;
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].state, PointState::Passed);
  EXPECT_EQ(kept[0].limit, 0.5);
  EXPECT_EQ(kept[0].limitSource, zu.programmeFile + ":2");
  EXPECT_EQ(kept[1].limitSource, zu.programmeFile + ":3");
  EXPECT_EQ(kept[1].state, PointState::NotMeasured);
  EXPECT_EQ(kept[2].state, PointState::Unjudged);
  EXPECT_EQ(kept[2].limitSource, "");
  int64_t before = 0;
  for (const PointRecord& p : kept) {
    EXPECT_GT(p.durationMs, 0);
    EXPECT_GE(p.measured, kept[0].measured);
    EXPECT_GT(p.seq, before);
    before = p.seq;
  }
  EXPECT_EQ(kept[1].durationMs, 15200);
  std::vector<RunRow> runs;
  ASSERT_TRUE(db->runs("", "", 0, &runs, &error));
  EXPECT_EQ(runs[0].verdict, "not measured");
  std::string html = protocolHtml({{runs[0], kept}});
  EXPECT_NE(html.find(zu.programmeFile + ":2"), std::string::npos);
  EXPECT_NE(html.find("не измерено (нет новых значений каналов)"), std::string::npos);
}

// A database that is locked past its time-out, read-only, full or damaged
// never stops a run: each record that fails says why, and the run goes on.
TEST(Records, FaultsOfTheDatabaseNeverStopARun) {
  test::TempDir dir;
  std::string path = dir.file("results.db");
  { RunRecorder first(path, knownRun(1, "00A001", localStamp())); first.finish(true); }

  auto run = [&](auto spoil) {
    RunRecorder rec(path, knownRun(1, "00A001", localStamp()));
    spoil();
    PointRecord p = knownPoint(1, 0.25, 0.5);
    rec.point(p);
    EXPECT_EQ(p.state, PointState::Passed);  // judged whether or not it was kept
    EXPECT_EQ(rec.finish(true), "passed");
    return rec.problem();
  };
  // Locked by another writer for longer than the time-out.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  std::string locked = run([&] { sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr); });
  EXPECT_NE(locked.find("locked"), std::string::npos) << locked;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // Full: the file may grow no more.
  {
    RunRecorder rec(path, knownRun(1, "00A001", localStamp()));
    std::string error;
    auto db = ResultsDb::open(path, false, &error);
    sqlite3_exec(db->handle(), "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
    for (int i = 0; i < 2000 && error.empty(); ++i) {
      PointRecord p = knownPoint(1, 0.25, 0.5);
      p.seq = 1000 + i;
      p.reason = std::string(200, 'x');
      db->addPoint(1, p, &error);
    }
    EXPECT_NE(error.find("full"), std::string::npos) << error;
  }
  // Read-only (where the system keeps this user from writing it).
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  if (std::FILE* f = std::fopen(path.c_str(), "r+")) {
    std::fclose(f);  // (an administrator writes it all the same: nothing to try)
  } else {
    std::string readOnly = run([] {});
    EXPECT_NE(readOnly.find("readonly"), std::string::npos) << readOnly;
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  // Not a database at all: the run goes on, and the report says so.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(4096, 'Z');
  std::string damaged = run([] {});
  EXPECT_NE(damaged.find("not a database"), std::string::npos) << damaged;
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  EXPECT_EQ(runReport({"--db", path}, out, err), 1);
  std::fclose(out);
  std::fclose(err);
  // A folder where the file should be.
  test::TempDir folder;
  RunRecorder inFolder(folder.file(""), knownRun(1, "", localStamp()));
  EXPECT_FALSE(inFolder.problem().empty());
}

}  // namespace
}  // namespace qs::records
