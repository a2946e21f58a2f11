// The verification records: every run of a bench and every point it showed,
// kept in an SQLite database in the working folder ("results.db", beside
// QS_ADD). The master and every bench of a stand write to the same file;
// SQLite's own locking orders them, and a writer waits for a lock at most
// kBusyTimeoutMs before the record is given up (the run goes on).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace qs::records {

constexpr const char* kDatabaseName = "results.db";
constexpr int kBusyTimeoutMs = 2000;

// How a point came out. A point is judged only when its programme line
// gives a limit; a point whose values did not all come is not measured,
// limit or not.
enum class PointState { Unjudged, Passed, Failed, NotMeasured };
// How a run ended; Open while it goes on (and after a crash, until the next
// start finds it and marks it lost).
enum class RunEnd { Open, Finished, Interrupted, Lost };

const char* stateWord(PointState state);   // "passed", "failed", "not measured", "" (stored)
const char* stateText(PointState state);   // "годен", "не годен", "не измерено", "" (shown)
const char* endWord(RunEnd end);           // "open", "finished", "interrupted", "lost"
PointState stateOfWord(const std::string& word);
RunEnd endOfWord(const std::string& word);

struct RunInfo {
  std::string started;  // local time, "YYYY-MM-DD HH:MM:SS"
  std::string workstation;
  int bench = 0;        // task number on a stand, 0 standalone
  int address = 0;
  std::string serial;   // as the header shows it, "" when not read
  std::string deviceType;
  std::string version;
  std::string programmeKey;
  int programmeId = 0;
  std::string programmeFile;
  uint32_t pid = 0;     // the writing process, to find its run lost later
  uint64_t pidMark = 0;
};

struct PointRecord {
  int seq = 0;          // 1, 2, ... in the order shown
  int number = 0;
  double U = 0, I = 0, PF = 0;
  std::string load;     // "C", "L" or ""
  std::string phases;   // "ABC", "AB", ...
  bool averageFresh = false;
  double average = 0;
  bool channelFresh[3] = {false, false, false};
  double channel[3] = {0, 0, 0};
  std::string measured;  // local time the values were taken
  int64_t durationMs = 0;  // from the point being set to its values taken
  double limit = -1;       // permitted channel error in percent; < 0: none
  std::string limitSource; // "file:line" of the programme line that gave it
  PointState state = PointState::Unjudged;
  std::string reason;      // why a point is not measured
};

// A point's state from its values and limit.
PointState judgePoint(const PointRecord& p);
// A run's verdict: "" when no point had a limit; else "failed" when a point
// failed, "not measured" when one was not measured or the run did not
// finish, "passed" otherwise.
std::string runVerdict(const std::vector<PointState>& states, bool anyLimit, bool finished);

struct RunRow {
  int64_t id = 0;
  RunInfo info;
  std::string ended;
  RunEnd end = RunEnd::Open;
  std::string verdict;
  int points = 0;
};

class ResultsDb {
 public:
  // Opens the database at `path` (created when `create`); null with a reason
  // in *error when it cannot be opened or is not a results database.
  static std::unique_ptr<ResultsDb> open(const std::string& path, bool create, std::string* error);
  ~ResultsDb();
  ResultsDb(const ResultsDb&) = delete;
  ResultsDb& operator=(const ResultsDb&) = delete;

  // Runs of `workstation` that have no end and whose process is gone are
  // marked lost. The number marked, or -1.
  int markLostRuns(const std::string& workstation, std::string* error);
  int64_t startRun(const RunInfo& run, std::string* error);  // its id, or -1
  bool addPoint(int64_t run, const PointRecord& point, std::string* error);
  bool endRun(int64_t run, RunEnd end, const std::string& ended, const std::string& verdict, std::string* error);

  // Runs, newest first: all, or those of a serial number and/or started on
  // or after a date ("YYYY-MM-DD"); at most `limit` (0: all).
  bool runs(const std::string& serial, const std::string& since, int limit, std::vector<RunRow>* out,
            std::string* error);
  // The points of a run in the order shown.
  bool pointsOf(int64_t run, std::vector<PointRecord>* out, std::string* error);

  sqlite3* handle() { return db_; }

 private:
  explicit ResultsDb(sqlite3* db) : db_(db) {}
  bool exec(const char* sql, std::string* error);
  sqlite3* db_;
};

// The local time now as "YYYY-MM-DD HH:MM:SS".
std::string localStamp();

}  // namespace qs::records
