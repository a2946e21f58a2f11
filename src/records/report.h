// `qs report`: the verification records for the office, without the
// console screen: a list of runs, their points as CSV for a spreadsheet, a
// printable protocol as HTML, a consistent copy of the database.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "metrology/validity.h"
#include "records/results_db.h"

namespace qs::records {

// Runs the report with the arguments after "report" (UTF-8); 0, or 1 with a
// message on `err` (a database missing or unreadable, a file not written,
// an argument not understood). `stationFile` holds this computer's
// identity, by which runs whose writer is gone are told from runs that go
// on.
int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& stationFile);

// What the report writes, for the runs given (newest first) and their points.
struct ReportRun {
  ReportRun() = default;
  ReportRun(RunRow r, std::vector<PointRecord> p) : run(std::move(r)), points(std::move(p)) {}
  RunRow run;
  std::vector<PointRecord> points;
  // A re-test: the points of the runs before it (the run it repeats, and
  // that one's own first run) whose last attempt they are, each with its
  // run; its conclusion follows from those and its own points. Runs that
  // repeat points of this one.
  struct Earlier {
    RunRow run;
    std::vector<PointRecord> points;
  };
  std::vector<Earlier> earlier;
  std::vector<int64_t> repeatedBy;
};
// The verdict of a meter verified by a run and the runs before it that it
// repeats (rr.earlier): from the last attempt at each point, as stored
// words ("" none); *incomplete when a record of them is short of what its
// bench showed.
std::string meterVerdict(const ReportRun& rr, bool* incomplete);
// Why the verification of a run (and of the runs it completes) cannot
// stand whatever its points say ("" when nothing stands against it).
std::string verificationFaultOf(const ReportRun& rr);
// The points of a run and of the runs it completes that sought no limit.
int withoutLimitOf(const ReportRun& rr);
// The conditions a run recorded, with the method's bounds it recorded.
metrology::RecordedConditions conditionsOf(const RunInfo& i);
// Fills rr.earlier and rr.repeatedBy from the database.
bool loadAttempts(ResultsDb& db, ReportRun* rr, std::string* error);
std::string runsListing(const std::vector<RunRow>& runs);
std::string pointsCsv(const std::vector<ReportRun>& runs);
// The protocols of the runs, in the order given; `issued` is the day they
// are issued ("YYYY-MM-DD"; "" unknown).
std::string protocolHtml(const std::vector<ReportRun>& runs, const std::string& issued = "");
// A run's protocol number: its id, with the stand's code before it in a
// laboratory of several stands ("С2-000123"), and the computer's mark where
// two stands share a code.
std::string protocolNumber(const RunRow& r);
// Text between the tags of HTML or XML: & < > " as entities, control
// characters left out.
std::string markupText(const std::string& s);
// How a run ended, with why when it was ended from outside ("прервана
// (окно закрыто)").
std::string endTextOf(const RunRow& r);

// A field of the CSV: text a spreadsheet keeps as written (never a formula,
// never turned into a number or a date), or an identifier such as a serial
// number or a version, kept with its leading zeros and dots.
std::string csvText(const std::string& s);
std::string csvIdentifier(const std::string& s);

}  // namespace qs::records
