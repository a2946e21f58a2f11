// One verification run's record, kept as the run goes: the run is written
// when it starts, each point when its row is shown, the end and verdict when
// it ends. A record that cannot be written (the database locked past its
// time-out, read-only, damaged, the disk full) never stops the run: the
// recorder says why, and the run goes on.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "records/results_db.h"

namespace qs::records {

class RunRecorder {
 public:
  RunRecorder(const std::string& databasePath, RunInfo info);
  // Why something was not recorded ("" while everything was).
  const std::string& problem() const { return problem_; }
  // Judges the point, records it (its `seq` is given here) and keeps its
  // state for the verdict.
  void point(PointRecord& point);
  // Ends the run; the verdict ("" when no point had a limit).
  std::string finish(bool finished);

 private:
  void failed(const std::string& why);
  std::unique_ptr<ResultsDb> db_;
  int64_t run_ = -1;
  std::string problem_;
  std::vector<PointState> states_;
  bool anyLimit_ = false;
};

}  // namespace qs::records
