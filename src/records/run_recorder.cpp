#include "records/run_recorder.h"

#include "platform/process.h"

namespace qs::records {

RunRecorder::RunRecorder(const std::string& databasePath, RunInfo info) {
  std::string error;
  db_ = ResultsDb::open(databasePath, true, &error);
  if (db_ == nullptr) {
    failed(error);
    return;
  }
  info.pid = platform::ownProcessId();
  info.pidMark = platform::processStartMark(info.pid);
  // Runs of this computer left without an end by a process that is gone
  // (killed, or its stand stopped) are lost; this bench's next run finds
  // them.
  if (db_->markLostRuns(info.workstation, &error) < 0) failed(error);
  run_ = db_->startRun(info, &error);
  if (run_ < 0) failed(error);
}

void RunRecorder::failed(const std::string& why) {
  if (problem_.empty()) problem_ = why.empty() ? "ошибка базы" : why;
}

void RunRecorder::point(PointRecord& p) {
  p.seq = static_cast<int>(states_.size()) + 1;
  p.state = judgePoint(p);
  if (p.limit >= 0) anyLimit_ = true;
  states_.push_back(p.state);
  if (run_ < 0) return;
  std::string error;
  if (!db_->addPoint(run_, p, &error)) failed(error);
}

std::string RunRecorder::finish(bool finished) {
  std::string verdict = runVerdict(states_, anyLimit_, finished);
  if (run_ >= 0) {
    std::string error;
    if (!db_->endRun(run_, finished ? RunEnd::Finished : RunEnd::Interrupted, localStamp(), verdict, &error))
      failed(error);
  }
  return verdict;
}

}  // namespace qs::records
