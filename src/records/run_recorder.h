// One verification run's record, kept as the run goes: each point when its
// row is shown, the end and verdict when the run ends. A record that cannot
// be written now (the database locked past its time-out, read-only, the
// disk full, a file of a newer qs) never stops the run and is never
// dropped: it waits in memory and is written with the next point, at the
// end, when the next run starts, and when the program ends (a bench that is
// closed still tries once). The database counts the points a run showed,
// so a run whose points did not all reach it says so instead of a verdict.
// A run still going on when the program is ended from outside (its window
// closed, Ctrl-C) is ended as interrupted with the points it has, and why.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "records/results_db.h"

namespace qs::records {

struct PendingRun;

class RunRecorder {
 public:
  // A run that repeats points of `repeats` (a run of this process) is
  // linked to it: written once that one has its number.
  RunRecorder(const std::string& databasePath, RunInfo info, const RunRecorder* repeats = nullptr);
  // What is still waiting goes on waiting for the next run or the end of
  // the program; a run that was never finished ends as interrupted.
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // Why the last write failed ("" once everything is written).
  std::string problem() const;
  // What the operator should know of the database though every record is
  // written ("results.db: журнал WAL недоступен — …"), "" when nothing.
  std::string note() const;
  // Points of this process's runs (this one and any before it) not yet in
  // the database, and whether a run's end is waiting too.
  int waiting() const;
  bool endWaiting() const;
  // Judges the point, keeps its state for the verdict and writes it with
  // whatever waits (its `seq` is given here).
  void point(PointRecord& point);
  // Ends the run; the verdict ("" when no point had a limit). A run already
  // ended from outside keeps that end.
  std::string finish(bool finished);
  // Why the run was ended from outside ("окно закрыто", "Ctrl-C"); "" when
  // it ended at the bench (or goes on).
  std::string endReason() const;

 private:
  std::shared_ptr<PendingRun> run_;
  bool finished_ = false;
};

// Tries once to write everything this process's runs still hold (the end of
// the program: a normal exit, a closed window); no write starts after it.
void writeWaitingRecords();
// The program is being ended from outside (its window closed, Ctrl-C):
// every run still going on ends as interrupted, with the points it has and
// `reason`, and what waits is written, all within `withinMs` (a closing
// console window gives a few seconds). No write starts after it. A run
// whose end cannot be written in that time stays without one, to be found
// lost, never half written. True when everything is written.
bool endOpenRuns(const std::string& reason, int withinMs);
// Forgets what waits, written or not, and lets writes start again (a test
// that left records of a spoiled database behind starts the next one
// clean).
void discardWaitingRecords();

}  // namespace qs::records
