// The verification records: every run of a bench and every point it showed,
// kept in an SQLite database in the working folder ("results.db", beside
// QS_ADD). The master and every bench of a stand write to the same file on
// the stand's own disk; SQLite's own locking orders the writers (a writer
// waits for another at most kBusyTimeoutMs, then keeps its record for the
// next try), and the file is kept in WAL mode so that a reader (a report,
// a database browser) never holds up a writer.
//
// The file says what it is: its application id marks a qs results database
// and its user version the layout. An older layout is brought forward in
// one transaction when a writer opens it; a newer one is read, never written.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/number_text.h"
#include "metrology/decision.h"
#include "records/time_text.h"

struct sqlite3;

namespace qs::records {

constexpr const char* kDatabaseName = "results.db";
constexpr int kBusyTimeoutMs = 2000;
constexpr int32_t kApplicationId = 0x51535244;  // "QSRD"
// 0: the first layout (no application id, local times); 1: UTC times with
// the writer's offset, limits as text, counts of points shown, the
// computer's identity, run numbers never reused; 2: the meter type and its
// class, how points were measured, every reading of a point with the
// spread and the meter's pulses, re-tests linked to their first run, the
// laboratory, reference, conditions, operator and program of each run.
// 3: the programme's title; 4: the registry's fields (owner, kind of
// verification, register number and modification, the laboratory's mark,
// the reference's fund number), the stand's code, why a run was ended from
// outside.
constexpr int kSchemaVersion = 4;
constexpr const char* kNewerFileText = "results.db записан более новой версией qs";
constexpr const char* kNoWalText = "results.db: журнал WAL недоступен — держите базу на своём диске";

// How a point came out: the decision rule's states (metrology/decision.h).
using metrology::PointState;
using metrology::stateOfWord;
using metrology::stateText;
using metrology::stateWord;
// How a run ended; Open while it goes on (and after a crash, until it is
// found lost).
enum class RunEnd { Open, Finished, Interrupted, Lost };

const char* endWord(RunEnd end);           // "open", "finished", "interrupted", "lost"
RunEnd endOfWord(const std::string& word);


// A limit's text, read and shown as the decision rule reads it.
using metrology::limitProblem;
using metrology::limitShown;
using metrology::parseLimit;

struct RunInfo {
  Stamp started;
  std::string workstation;  // the computer's name, for people
  std::string station;      // the computer's identity, to find its lost runs
  int bench = 0;            // task number on a stand, 0 standalone
  int address = 0;
  std::string serial;       // as the header shows it, "" when not read
  std::string deviceType;
  std::string version;
  std::string programmeKey;
  int programmeId = 0;
  std::string programmeFile;
  std::string programmeTitle;  // as its key line names it ("Поверка 0.5S"); "" in older records
  std::string meterType;    // the catalogue's name of the type, "" when none
  std::string meterClass;   // its active class, as the catalogue gives it
  std::string typeNote;     // why no type (or what is wrong with the catalogue)
  std::string measure;      // "settling readings seconds pulses", "" for one value
  int64_t retestOf = 0;     // the run this one repeats points of, 0 when none
  int meterInterval = 0;    // the type's verification interval in years, 0 unknown
  double meterBase = 0;     // its Ib (or In, through transformers), A; 0 unknown
  bool meterTransformer = false;
  // The laboratory, its method's bounds of the conditions ("15–25", ""
  // none), the reference installation and its calibration due date, the
  // conditions entered for the day, the operator and the program that made
  // the run: as they were when it was made.
  std::string labName, labAddress, labAccreditation, labMethod;
  std::string temperatureBounds, humidityBounds, pressureBounds;
  std::string referenceModel, referenceSerial, referenceDue;
  bool conditionsKnown = false;
  double temperature = 0, humidity = 0, pressure = 0;
  std::string operatorName;
  std::string software;     // "qs 0.1.0 (3668fd8a1b2c)"
  // What the national registry's record says, as the settings were when
  // the run was made: the meter's owner, the kind of verification (1
  // primary, 2 periodic), the type's register number and modification, the
  // laboratory's sign cipher and where its mark goes, the reference's
  // number in the federal information fund.
  std::string owner;
  int verificationKind = 2;
  std::string registerNumber, modification;
  std::string signCipher;
  bool signPass = false, signMi = false;
  std::string referenceFund;
  std::string standCode;    // this stand's code in its laboratory ("С2"), "" for none
  uint32_t pid = 0;         // the writing process, to find its run lost later
  uint64_t pidMark = 0;
};

// One fresh value of each channel, taken at a point.
struct Reading {
  Stamp taken;
  bool fresh[3] = {false, false, false};
  double channel[3] = {0, 0, 0};
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
  Stamp measured;          // when the values were taken
  int64_t durationMs = 0;  // from the point being set to its values taken
  // The permitted channel error in percent ("1,0"); "": none.
  std::string limit;
  // Where it comes from: "prog.txt:3", or the class row ("класс 1, ГОСТ
  // 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1"); with no limit,
  // why the class gives none ("класс 1: ток ниже 0,05Iб"), "" when none was
  // sought.
  std::string limitSource;
  PointState state = PointState::Unjudged;
  std::string reason;      // why a point is not measured or not judged
  // Each channel's value above is the mean of these readings (one reading:
  // the value itself); the spread is max - min of a channel's readings.
  std::vector<Reading> readings;
  bool spreadKnown[3] = {false, false, false};
  double spread[3] = {0, 0, 0};
  int64_t settlingMs = 0;  // waited after the point was set, before reading
  double pulses = -1;      // the meter's whole pulses while it was read (< 0: unknown)
  std::string warning;     // what the operator should know of the point
  // The fewest pulses the run's measuring asks of a point (0: none): kept
  // with the run (its measure), here to judge the point by.
  double minPulses = 0;
};

// What the decision rule judges a point by, from its record.
metrology::PointEvidence evidenceOf(const PointRecord& p);
// A point's state from its values and limit (the decision rule of
// metrology/decision.h): each channel's value rounded to thousandths, its
// size against the limit (a value at the limit passes); a point that sought
// a limit and found none is not judged; one short of its pulses is not
// measured.
PointState judgePoint(const PointRecord& p);
// Sets the point's state by the rule, and why where the rule says so: the
// class's reason for a point not judged, the pulses of a point short of
// them (when nothing else was wrong).
void judge(PointRecord& p);
// Whether a limit was given or sought for the point.
bool limitSought(const PointRecord& p);
// A point whose meter gave fewer pulses than its run's measuring asks:
// "импульсов 17 < 25".
bool tooFewPulses(const PointRecord& p);
std::string pulsesReason(const PointRecord& p);
using metrology::lostVerdict;
using metrology::runVerdict;

struct RunEndRecord {
  RunEnd end = RunEnd::Finished;
  Stamp ended;
  std::string verdict;
  std::string reason;  // why it was ended from outside ("окно закрыто", "Ctrl-C"); "" otherwise
};

struct RunRow {
  int64_t id = 0;
  RunInfo info;
  Stamp ended;
  RunEnd end = RunEnd::Open;
  std::string verdict;
  int shown = 0;     // points the bench showed
  int recorded = 0;  // points the database holds
  int withoutLimit = 0;  // recorded points that sought no limit
  std::string endReason;  // why it was ended from outside, "" otherwise
  // Set by a report over several stands' databases where two stands share
  // a code: the first four hex digits of the computer's identity, which its
  // protocol number then carries.
  std::string numberMark;
  // A record short of what the bench showed gives no verdict.
  bool incomplete() const { return shown != recorded; }
};

class ResultsDb {
 public:
  enum class Access { Write, Read };
  // Opens the database at `path`: for writing (created when missing,
  // brought to this layout, refused when a newer qs wrote it), or for
  // reading only (an older layout is read through a copy brought forward
  // in memory). Null with a reason in *error.
  static std::unique_ptr<ResultsDb> open(const std::string& path, Access access, std::string* error);
  ~ResultsDb();
  ResultsDb(const ResultsDb&) = delete;
  ResultsDb& operator=(const ResultsDb&) = delete;

  // The layout the file had when it was opened.
  int fileVersion() const { return fileVersion_; }
  // Opened for writing, the file could not be kept in WAL mode (a network
  // share): a reader holds up the benches' writes.
  bool walUnavailable() const { return walUnavailable_; }

  // Runs of this computer (its identity; runs of the first layout, which
  // have none, by its name) that have no end and whose process is gone are
  // marked lost, with the verdict their recorded points give. The number
  // marked, or -1.
  int markLostRuns(const std::string& station, const std::string& workstation, std::string* error);
  // One transaction: the run itself when *run < 0 (its id is set then),
  // the points, the count of points shown, and the end when one is given.
  // Nothing of it is written when it fails.
  bool record(const RunInfo& info, int64_t* run, const std::vector<PointRecord>& points, int shown,
              const RunEndRecord* end, std::string* error);
  // The run's row, or false when there is none.
  bool run(int64_t id, RunRow* out, std::string* error);

  // Runs, newest first: all, or those of a serial number and/or started on
  // or after a date ("YYYY-MM-DD", the writer's local date); at most `limit`
  // (0: all).
  bool runs(const std::string& serial, const std::string& since, int limit, std::vector<RunRow>* out,
            std::string* error);
  // The runs that repeat points of run `id`, in the order they came.
  bool retestsOf(int64_t id, std::vector<int64_t>* out, std::string* error);
  // The points of a run in the order shown, each with its readings.
  bool pointsOf(int64_t run, std::vector<PointRecord>* out, std::string* error);
  // Copies what the journal holds into the database file, without waiting;
  // false when some of it had to stay (another process still reads an
  // older moment of the file).
  bool checkpoint();
  // A consistent copy of the whole database in a new file `path`.
  bool copyTo(const std::string& path, std::string* error);

  sqlite3* handle() { return db_; }

 private:
  explicit ResultsDb(sqlite3* db) : db_(db) {}
  bool selectRuns(int64_t onlyId, const std::string& serial, const std::string& since, int limit,
                  std::vector<RunRow>* out, std::string* error);
  bool exec(const char* sql, std::string* error);
  sqlite3* db_;
  int fileVersion_ = kSchemaVersion;
  bool walUnavailable_ = false;
};

// Whether the writer of a run that has no end is gone, seen from this
// computer (`station`, `workstation`): its process is not running. A run
// of another computer, or a process whose state cannot be told, is taken as
// going on.
bool writerGone(const RunRow& run, const std::string& station, const std::string& workstation);

}  // namespace qs::records
