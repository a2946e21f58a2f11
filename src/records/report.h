// `qs report`: the verification records for the office, without the
// console screen: a list of runs, their points as CSV for a spreadsheet, a
// printable protocol as HTML.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "records/results_db.h"

namespace qs::records {

// Runs the report with the arguments after "report"; 0, or 1 with a message
// on `err` (a database missing or unreadable, a file not written, an
// argument not understood).
int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// What the report writes, for the runs given (newest first) and their points.
struct ReportRun {
  RunRow run;
  std::vector<PointRecord> points;
};
std::string runsListing(const std::vector<RunRow>& runs);
std::string pointsCsv(const std::vector<ReportRun>& runs);
std::string protocolHtml(const std::vector<ReportRun>& runs);

}  // namespace qs::records
