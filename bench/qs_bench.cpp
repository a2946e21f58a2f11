// qs-bench: how close the program comes to what the protocol allows.
//
// Every figure is a ratio against a limit measured or computed in the same
// run: the device's own pauses and the wire time of every byte at 115200
// baud for the device link (the simulated line holds each answer back by
// the time a real wire would take), a raw pipe ping-pong between the same two
// processes for the mailbox. Absolute times drift with the machine; the
// ratios should not.
#include <fcntl.h>
#include <sqlite3.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "devlink/frames.h"
#include "console/virtual_console.h"
#include "devlink/dev_link.h"
#include "devlink/device_state.h"
#include "devlink/frames.h"
#include "eeprom/eeprom_editor.h"
#include "meter/meter_menu.h"
#include "platform/shared_objects.h"
#include "platform/time.h"
#include "console/text_file.h"
#include "records/results_db.h"
#include "records/run_recorder.h"
#include "sim/device_sim.h"
#include "sim/loopback_channel.h"
#include "sim/serve.h"
#include "sim/zu_sim.h"
#include "sync/sync_link.h"
#include "uso/uso_screen.h"
#include "zu/zu_controller.h"

namespace fs = std::filesystem;
namespace sim = qs::sim;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kBaud = 115200;
const std::string kRegisterFile = QS_SOURCE_DIR "/samples/QS_ADD/reg_7758_1.txt";

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double wireMs(int bytes) { return bytes * 10.0 * 1000.0 / kBaud; }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double threadCpuMs() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Every pause the program asks for on this thread, slept as asked and
// added up: the protocol's own pauses are part of each limit. Waits for
// input stay waits on the line (they are the program's own time).
class PauseLedger {
 public:
  PauseLedger() {
    clock_.sleep = [this](uint32_t ms) {
      pauses += ms;
      qs::platform::systemSleepMs(ms);
    };
    clock_.tick = [] { return qs::platform::systemTickCount(); };
    clock_.realInputWaits = true;
    qs::platform::setClockOverride(&clock_);
  }
  ~PauseLedger() { qs::platform::setClockOverride(nullptr); }
  PauseLedger(const PauseLedger&) = delete;
  PauseLedger& operator=(const PauseLedger&) = delete;
  void clear() {
    pauses = 0;
    givenAtClear_ = qs::answerTimeGivenMs();
  }
  double pauses = 0;  // slept
  // The time devices were given to answer since clear(): what the fixed
  // pauses before reading cost before they became deadlines.
  double given() const { return static_cast<double>(qs::answerTimeGivenMs() - givenAtClear_); }
  // What the same exchanges cost with those fixed pauses: both kinds.
  double fixedPauses() const { return pauses + given(); }

 private:
  qs::platform::ClockOverride clock_;
  uint64_t givenAtClear_ = qs::answerTimeGivenMs();
};

// ---- the table ------------------------------------------------------------------------------

struct Row {
  std::string what;
  std::string measured;
  std::string limit;
  double ratio = 0;
  std::string target;  // "<= 1.10", ">= 0.90", "" (reported only)
  bool held = true;
};
std::vector<Row> gRows;

std::string fmt(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void addRow(const std::string& what, const std::string& measured, const std::string& limit, double ratio,
            const std::string& target) {
  Row r{what, measured, limit, ratio, target, true};
  if (target.rfind("<=", 0) == 0) r.held = ratio <= std::atof(target.c_str() + 2);
  if (target.rfind(">=", 0) == 0) r.held = ratio >= std::atof(target.c_str() + 2);
  gRows.push_back(r);
  std::printf("  %-44s %s\n", what.c_str(), r.held ? "" : "(target missed)");
  std::fflush(stdout);
}

void printTable() {
  std::printf("\n%-46s %14s %14s %8s %9s\n", "measure", "measured", "limit", "ratio", "target");
  std::printf("%s\n", std::string(95, '-').c_str());
  for (const Row& r : gRows) {
    std::string ratio = r.ratio > 0 ? fmt("%.3f", r.ratio) : "-";
    std::printf("%-46s %14s %14s %8s %9s%s\n", r.what.c_str(), r.measured.c_str(), r.limit.c_str(), ratio.c_str(),
                r.target.c_str(), r.held ? "" : "  MISSED");
  }
}

// ---- a simulated line served from a thread of its own ------------------------------------------

// The line at the wire's pace, with one device at 21 unless `empty`, served
// over a pseudo-terminal (linked at `linkPath` when given) or loopback TCP.
class ServedLine {
 public:
  // `answerMs`: when the device answers (-1 at once; -2 at the last moment
  // of each command's time).
  explicit ServedLine(bool tcp, bool empty = false, const std::string& linkPath = "", int answerMs = -1) {
    line.baud = kBaud;
    if (!empty) {
      sim::SimDevice d = sim::SimDevice::make(0x21, 0x123456);
      d.answerLate = answerMs == -2;
      d.answerMs = answerMs >= 0 ? answerMs : -1;
      line.add(d);
    }
    server = std::make_unique<sim::BackgroundServer>(line, tcp ? 0 : -1, linkPath);
  }
  std::string name() const { return server->endpoint(); }
  // Every byte both ways so far, on the wire.
  double wireSoFar() const {
    size_t bytes = line.bytesAnswered;
    for (const auto& r : line.requests) bytes += r.size();
    return wireMs(static_cast<int>(bytes));
  }

 private:
  sim::SimLine line;
  std::unique_ptr<sim::BackgroundServer> server;
};

// ---- device-link exchanges ------------------------------------------------------------------

void exchange(bool tcp) {
  ServedLine served(tcp);
  qs::DevLink link(0x21, served.name(), 115200, kRegisterFile);
  if (link.initStatus != 1) {
    std::printf("  no link over %s\n", tcp ? "TCP" : "the pseudo-terminal");
    return;
  }
  std::vector<double> times, limits;
  link.readSerialNumber(1);  // the first exchange opens the line
  PauseLedger ledger;
  for (int i = 0; i < 40; ++i) {
    ledger.clear();
    auto start = Clock::now();
    if (link.readSerialNumber(1) < 0) continue;
    times.push_back(msSince(start));
    // Both frames on the wire and the 10 ms after the frame (the device's
    // time to answer is no longer waited out: it answers at once).
    limits.push_back(10 + wireMs(link.state->sentLength + link.state->receivedLength));
  }
  double m = median(times), limit = median(limits);
  addRow(std::string("serial-number exchange, ") + (tcp ? "loopback TCP" : "pseudo-terminal"), fmt("%.2f ms", m),
         fmt("%.2f ms wire", limit), limit > 0 ? m / limit : 0, "<= 1.50");
}

// ---- live views -------------------------------------------------------------------------------

struct ViewResult {
  double rate = 0, limitRate = 0, cpuPercent = 0;
};

ViewResult liveView(qs::DevLink& link, qs::VirtualConsole& vc, uint8_t view, int fkey, double seconds) {
  qs::UsoScreen uso(link);
  int polls = 0;
  bool stopped = false;
  Clock::time_point start;
  double cpuStart = 0, cpuMs = 0, elapsed = 0;
  vc.onPoll = [&] {
    if (stopped) {
      vc.pressKey("\x1b");
      return;
    }
    if (polls == 0) {
      start = Clock::now();
      cpuStart = threadCpuMs();
    }
    ++polls;
    elapsed = msSince(start);
    if (elapsed >= seconds * 1000) {
      cpuMs = threadCpuMs() - cpuStart;
      stopped = true;
      vc.pressKey("x");
    }
  };
  uso.selectView(qs::kScanF1 + fkey - 1);
  PauseLedger ledger;
  uso.run();
  vc.onPoll = nullptr;
  ViewResult r;
  int cycles = polls - 1;
  if (cycles <= 0 || elapsed <= 0) return r;
  r.rate = cycles * 1000.0 / elapsed;
  // A poll as it cost with fixed pauses (the request's pause, the pause
  // after the frame) and both frames on the wire.
  ledger.clear();
  uso.sendRequest(*link.state, view, 0xFFFFFFFFu);
  uso.receiveResponse(*link.state);
  double perPoll = ledger.fixedPauses() + wireMs(link.state->sentLength + link.state->receivedLength);
  r.limitRate = 1000.0 / perPoll;
  r.cpuPercent = cpuMs / elapsed * 100;
  return r;
}

void liveViews(qs::VirtualConsole& vc) {
  ServedLine served(false);
  qs::DevLink link(0x21, served.name(), 115200, kRegisterFile);
  if (link.initStatus != 1) return;
  const struct {
    const char* name;
    uint8_t view;
    int fkey;
  } views[] = {{"TI view", qs::kViewTi, 1}, {"TS view", qs::kViewTs, 2}, {"temperature view", qs::kViewTemperature, 4}};
  for (const auto& v : views) {
    ViewResult r = liveView(link, vc, v.view, v.fkey, 3);
    // The temperature request's own time is 1 ms: its poll is paced by the
    // 10 ms after each frame, which stays.
    bool paced = v.view == qs::kViewTemperature;
    addRow(std::string(v.name) + " polling rate", fmt("%.1f /s", r.rate), fmt("%.1f /s fixed", r.limitRate),
           r.limitRate > 0 ? r.rate / r.limitRate : 0, paced ? ">= 0.90" : ">= 2.00");
  }
  ViewResult r = liveView(link, vc, qs::kViewTi, 1, 10);
  addRow("CPU while the TI view polls 10 s", fmt("%.2f %%", r.cpuPercent), "2 % of a core", r.cpuPercent / 2.0,
         "<= 1.00");
}

// ---- EEPROM save and line scan ---------------------------------------------------------------

void eepromSave(qs::VirtualConsole&) {
  ServedLine served(false);
  qs::DevLink link(0x21, served.name(), 115200, kRegisterFile);
  if (link.initStatus != 1) return;
  std::string file = (fs::temp_directory_path() / ("qs-bench-" + std::to_string(getpid()) + ".hex")).string();
  std::vector<double> times, limits;
  PauseLedger ledger;
  for (int round = 0; round < 3; ++round) {
    qs::EepromEditor editor(link);
    std::memset(editor.flags, 0, sizeof editor.flags);
    ledger.clear();
    auto start = Clock::now();
    if (editor.saveHex(file) != 0) continue;
    times.push_back(msSince(start));
    // 32 reads of 128 bytes as they cost with fixed pauses: each the
    // request's pause, the pause before the answer is read, the pause after
    // the frame and both frames on the wire. (The 10 ms after each frame
    // and the wire stay: at 115200 baud no read costs less than 0,38 of it.)
    limits.push_back(ledger.fixedPauses() + 32 * wireMs(link.state->sentLength + link.state->receivedLength));
  }
  std::remove(file.c_str());
  double m = median(times), limit = median(limits);
  addRow("EEPROM saved to a HEX file (32 reads)", fmt("%.0f ms", m), fmt("%.0f ms fixed", limit),
         limit > 0 ? m / limit : 0, "<= 0.40");
}

void lineScan() {
  ServedLine served(false, true);  // a line with nobody on it
  qs::DevLink link(0x21, served.name(), 115200, kRegisterFile);
  if (link.initStatus != 1) return;
  qs::MeterMenu menu(link);
  PauseLedger ledger;
  auto start = Clock::now();
  menu.scanLine(20);
  double m = msSince(start);
  // Per address the serial text once and the serial number three times:
  // the request pauses, the pauses between attempts and the four empty
  // polls of 3 ms that make the time-out of each unanswered request.
  double limit = ledger.fixedPauses() + qs::kScanEntries * 4 * qs::kDeviceLinkGaps * 3;
  addRow("line scan of 100 addresses, nobody answers", fmt("%.0f ms", m), fmt("%.0f ms", limit), m / limit, "<= 1.02");
}

// A 45-day profile read from a device that answers in 2 ms, and from one
// that answers at the last moment of each command's time, against the same
// reads with the fixed pauses before reading (pauses and wire time).
void profileDays() {
  for (int answerMs : {2, -2}) {
    ServedLine served(false, false, "", answerMs);
    qs::DevLink link(0x21, served.name(), 115200, kRegisterFile);
    if (link.initStatus != 1) return;
    int64_t now = 0;
    link.readDeviceTime(&now);
    PauseLedger ledger;
    double wireBefore = served.wireSoFar();
    auto start = Clock::now();
    int read = 0;
    for (int day = 1; day <= 45; ++day) {
      qs::ProfileRecord rec;
      read += link.readDayProfile(now - day * 86400, &rec) == 0 && rec.receivedEntries == 48;
    }
    double m = msSince(start);
    double limit = ledger.fixedPauses() + served.wireSoFar() - wireBefore;
    if (read != 45) std::printf("  profile: %d of 45 days read\n", read);
    if (answerMs == 2) {
      addRow("45-day profile, device answering in 2 ms", fmt("%.0f ms", m), fmt("%.0f ms fixed", limit), m / limit,
             "<= 0.25");
    } else {
      addRow("45-day profile, device answering at the last ms", fmt("%.0f ms", m), fmt("%.0f ms fixed", limit),
             m / limit, "<= 1.02");
    }
  }
}

// ---- the mailbox between two processes -------------------------------------------------------

void mailbox() {
  const std::string stand = ".bench" + std::to_string(getpid());
  int toChild[2], toParent[2];
  if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
  constexpr int kRounds = 2000;
  pid_t child = fork();
  if (child == 0) {
    char b;
    for (int i = 0; i < kRounds; ++i) {
      if (read(toChild[0], &b, 1) != 1 || write(toParent[1], &b, 1) != 1) _exit(1);
    }
    qs::VirtualConsole vc;
    qs::Console::init(&vc);
    qs::SyncLink master("qs", nullptr, nullptr, stand);
    master.role = 0;
    master.ownIndex = qs::kMasterIndex;
    master.attached = 1;
    master.clearBlock();
    b = 'r';
    if (write(toParent[1], &b, 1) != 1) _exit(1);
    master.dispatch();
    _exit(0);
  }
  std::vector<double> pipeTimes, boxTimes;
  char b = 'p';
  for (int i = 0; i < kRounds; ++i) {
    auto start = Clock::now();
    if (write(toChild[1], &b, 1) != 1 || read(toParent[0], &b, 1) != 1) break;
    pipeTimes.push_back(msSince(start) * 1000);
  }
  if (read(toParent[0], &b, 1) == 1) {
    qs::SyncLink task("qs", nullptr, nullptr, stand);
    task.attached = 1;
    for (int i = 0; i < kRounds; ++i) {
      auto start = Clock::now();
      if (task.post(qs::simpleMessage(qs::kMsgPresence)) != 0) break;  // 0: the master answered
      boxTimes.push_back(msSince(start) * 1000);
    }
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  qs::removeStandObjects(stand);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
  double box = median(boxTimes), raw = median(pipeTimes);
  addRow("mailbox presence round trip (median)", fmt("%.1f us", box), fmt("%.1f us pipe", raw), raw > 0 ? box / raw : 0,
         "");
}

// ---- a stand of nine benches ------------------------------------------------------------------

// The step the benches ask for: test point 1, 220 V, 5 A, PF 1 on three phases.
qs::TestPoint standPoint() {
  qs::TestPoint p;
  p.number = 1;
  p.U = 220;
  p.Upct = 100;
  p.I = 5;
  p.Ipct = 100;
  p.PF = 1.0;
  return p;
}

// A master process as the program runs one: its console loop and its
// thread, a controller on a simulated installation with its reader. A line
// on `commands` stops the run (as the operator's 's').
pid_t startStandMaster(const std::string& stand, int commands) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  qs::VirtualConsole vc;
  qs::Console::init(&vc);
  sim::ZuSim installation;
  qs::ZuController zu;
  if (zu.open(std::make_unique<sim::LoopbackChannel>(installation)) != 0 || !zu.startReader()) _exit(2);
  zu.testPoints = {standPoint()};
  qs::SyncLink link("qs", nullptr, &zu, stand);
  link.clearBlock();
  link.role = 0;
  link.ownIndex = qs::kMasterIndex;
  link.attached = 1;
  link.running = 1;
  zu.sync = &link;
  zu.keys = &link.keys;
  zu.publishInto(link.block() + qs::kAverageOffset, link.block() + qs::kChannelValuesOffset,
                 link.block() + qs::kAverageCountOffset, link.block() + qs::kChannelCountOffset);
  std::thread([&link, commands] {
    char c;
    while (read(commands, &c, 1) == 1) link.post(qs::byteMessage(qs::kMsgRunControl, 0));
  }).detach();
  link.console();
  _exit(0);
}

// A bench process: it joins as task `n`, then for each line on `go` asks
// for test point `point` and reports when it asked and when it was let go.
pid_t startStandBench(const std::string& stand, int n, int go, int report) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  qs::VirtualConsole vc;
  qs::Console::init(&vc);
  qs::SyncLink link("qs", nullptr, nullptr, stand);
  if (link.joinMaster(nullptr, n) != 0) _exit(3);
  char point;
  while (read(go, &point, 1) == 1) {
    double times[2];
    times[0] = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    link.postStep(0, 0, point - 1, qs::kPhaseABC);
    times[1] = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    if (write(report, times, sizeof times) != static_cast<ssize_t>(sizeof times)) _exit(4);
  }
  _exit(0);
}

double processCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> f;
  size_t at = close + 2;
  while (at < text.size()) {
    size_t sp = text.find(' ', at);
    f.push_back(text.substr(at, sp - at));
    if (sp == std::string::npos) break;
    at = sp + 1;
  }
  if (f.size() < 13) return 0;  // utime and stime are fields 14 and 15 of the line
  return (std::atof(f[11].c_str()) + std::atof(f[12].c_str())) * 1000.0 / sysconf(_SC_CLK_TCK);
}

// The installation's own time to set a test point: the point set on a
// controller of its own, from the start display.
double installationPointMs() {
  sim::ZuSim installation;
  qs::ZuController zu;
  zu.open(std::make_unique<sim::LoopbackChannel>(installation));
  zu.startReader();
  zu.testPoints = {standPoint()};
  auto start = Clock::now();
  zu.setTestPoint(1, qs::kPhaseABC);
  double own = msSince(start);
  zu.close();
  return own;
}

void stand() {
  double own = installationPointMs();
  const std::string stand = ".benchstand" + std::to_string(getpid());
  int commands[2], go[2], report[2];
  if (pipe(commands) != 0 || pipe(go) != 0 || pipe(report) != 0) return;
  pid_t master = startStandMaster(stand, commands[0]);
  qs::SyncLink watcher("qs", nullptr, nullptr, stand);
  // The master is serving once it answers a presence check.
  watcher.attached = 1;
  for (int i = 0; i < 100 && watcher.post(qs::simpleMessage(qs::kMsgPresence)) != 0; ++i) usleep(50000);
  watcher.attached = 0;
  std::vector<pid_t> benches;
  for (int n = 1; n <= qs::kMaxTasks; ++n) benches.push_back(startStandBench(stand, n, go[0], report[1]));
  auto registered = [&] {
    for (int i = 0; i < qs::kMaxTasks; ++i)
      if (watcher.taskPid(i) == 0) return false;
    return true;
  };
  for (int i = 0; i < 200 && !registered(); ++i) usleep(50000);
  // Nine benches ask for the step; the last request sets it going.
  char point = 1;
  for (int i = 0; i < qs::kMaxTasks; ++i) (void)!write(go[1], &point, 1);
  double lastAsked = 0, lastLetGo = 0;
  for (int i = 0; i < qs::kMaxTasks; ++i) {
    double times[2] = {0, 0};
    if (read(report[0], times, sizeof times) != static_cast<ssize_t>(sizeof times)) break;
    lastAsked = std::max(lastAsked, times[0]);
    lastLetGo = std::max(lastLetGo, times[1]);
  }
  double lockstep = lastLetGo - lastAsked;
  addRow("nine benches in lockstep: step to release", fmt("%.0f ms", lockstep), fmt("%.0f ms own", own),
         own > 0 ? lockstep / own : 0, "<= 1.05");
  // The run stopped, nine benches wait for their next step: what the
  // master spends meanwhile (its console, its thread, the reader).
  char c = 's';
  (void)!write(commands[1], &c, 1);
  usleep(300000);
  point = 2;
  for (int i = 0; i < qs::kMaxTasks; ++i) (void)!write(go[1], &point, 1);
  usleep(500000);
  constexpr double kWatchMs = 10000;
  double before = processCpuMs(master);
  usleep(static_cast<useconds_t>(kWatchMs * 1000));
  double cpu = (processCpuMs(master) - before) / kWatchMs * 100.0;
  addRow("master's CPU while nine benches wait", fmt("%.2f %%", cpu), "2 % of a core", cpu / 2.0, "<= 1.00");
  for (pid_t p : benches) kill(p, SIGKILL);
  kill(master, SIGKILL);
  for (pid_t p : benches) waitpid(p, nullptr, 0);
  waitpid(master, nullptr, 0);
  for (int fd : {commands[0], commands[1], go[0], go[1], report[0], report[1]}) close(fd);
  qs::removeStandObjects(stand);
}

// ---- start-up and memory of the program ------------------------------------------------------

// ---- the verification records ---------------------------------------------------------------

// Recording a point (committed to the file) against the time the
// installation takes only to be set to a point; and qs report --csv over
// 100 000 points.
void records(const std::string& qsPath) {
  double point = installationPointMs();
  std::vector<double> times;
  {
    qs::records::RunInfo info;
    info.started = qs::records::nowStamp();
    info.programmeKey = "Ver";
    qs::records::RunRecorder recorder("bench-results.db", info);
    for (int i = 0; i < 200; ++i) {
      qs::records::PointRecord p;
      p.number = i + 1;
      p.averageFresh = p.channelFresh[0] = p.channelFresh[1] = p.channelFresh[2] = true;
      p.limit = "0,5";
      p.readings.resize(3);
      for (qs::records::Reading& g : p.readings) {
        g.taken = qs::records::nowStamp();
        g.fresh[0] = g.fresh[1] = g.fresh[2] = true;
      }
      auto start = Clock::now();
      recorder.point(p);
      times.push_back(msSince(start));
    }
    recorder.finish(true);
    if (!recorder.problem().empty()) std::printf("  records: %s\n", recorder.problem().c_str());
  }
  addRow("a point with 3 readings recorded (median)", fmt("%.2f ms", median(times)), fmt("%.0f ms point", point),
         median(times) / point, "<= 0.01");

  std::string error;
  auto db = qs::records::ResultsDb::open("report-results.db", qs::records::ResultsDb::Access::Write, &error);
  if (!db) return;
  for (int run = 0; run < 1000; ++run) {
    qs::records::RunInfo info;
    info.started = qs::records::nowStamp();
    info.serial = fmt("%06.0f", run);
    info.programmeKey = "Ver";
    std::vector<qs::records::PointRecord> points;
    for (int i = 1; i <= 100; ++i) {
      qs::records::PointRecord p;
      p.seq = p.number = i;
      p.averageFresh = p.channelFresh[0] = p.channelFresh[1] = p.channelFresh[2] = true;
      p.channel[0] = 0.001 * i;
      p.measured = info.started;
      points.push_back(p);
    }
    qs::records::RunEndRecord end{qs::records::RunEnd::Finished, info.started, "", ""};
    int64_t id = -1;
    db->record(info, &id, points, 100, &end, &error);
  }
  db.reset();
  std::string command = "'" + qsPath + "' report --db report-results.db --csv report.csv >/dev/null";
  auto start = Clock::now();
  int rc = std::system(command.c_str());
  double ms = msSince(start);
  if (rc != 0) std::printf("  qs report failed (%d)\n", rc);
  addRow("qs report --csv of 100 000 points", fmt("%.0f ms", ms), "2000 ms", ms / 2000, "<= 1.00");
}

// The office's register: the registry's upload of 100 000 verifications
// against the CSV of the same runs; and a report over ten stands' copies of
// 10 000 runs each against the same report over one database of 100 000.
namespace office {

qs::records::RunInfo verified(int n, int stand) {
  qs::records::RunInfo info;
  info.started = qs::records::nowStamp();
  info.started.utc += n;
  qs::appendf(info.station, "%04x0000000000000000000000000000", stand);
  info.standCode = stand > 0 ? "С" + std::to_string(stand) : "";
  qs::appendf(info.serial, "%06d", n);
  info.programmeKey = "Ver";
  info.meterInterval = 16;
  info.registerNumber = "36697-17";
  info.signCipher = "АБВ";
  info.referenceFund = "20189.07.РЭ.01351";
  info.labMethod = "МП 000-2026";
  info.operatorName = "Иванов И. И.";
  info.owner = "ООО «Заказчик»";
  info.conditionsKnown = true;
  info.temperature = 22.4;
  info.humidity = 47;
  info.pressure = 101.3;
  return info;
}

// `runs` verified meters of `stand` (0: one without a code) in a new file.
bool make(const std::string& path, int first, int runs, int stand) {
  std::string error;
  fs::remove(path);
  auto db = qs::records::ResultsDb::open(path, qs::records::ResultsDb::Access::Write, &error);
  if (!db) return false;
  // (Made fast: the bench measures the reports, not the making.)
  sqlite3_exec(db->handle(), "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  for (int n = first; n < first + runs; ++n) {
    qs::records::RunInfo info = verified(n, stand);
    qs::records::PointRecord p;
    p.seq = p.number = 1;
    p.averageFresh = p.channelFresh[0] = p.channelFresh[1] = p.channelFresh[2] = true;
    p.channel[0] = 0.25;
    p.limit = "1,0";
    p.limitSource = "QS_ADD/prog.txt:1";
    p.state = qs::records::PointState::Passed;
    p.measured = info.started;
    qs::records::RunEndRecord end{qs::records::RunEnd::Finished, info.started, "passed", ""};
    int64_t id = -1;
    if (!db->record(info, &id, {p}, 1, &end, &error)) return false;
  }
  return true;
}

double timed(const std::string& command) {
  auto start = Clock::now();
  int rc = std::system((command + " >/dev/null 2>&1").c_str());
  double ms = msSince(start);
  if (rc != 0) std::printf("  failed (%d): %s\n", rc, command.c_str());
  return ms;
}

}  // namespace office

void officeRegister(const std::string& qsPath) {
  fs::path dir = fs::temp_directory_path() / ("qs-bench-office-" + std::to_string(getpid()));
  fs::create_directories(dir / "copies");
  std::string one = (dir / "one.db").string();
  bool made = office::make(one, 0, 100000, 0);
  for (int stand = 1; stand <= 10 && made; ++stand)
    made = office::make((dir / "copies" / ("stand" + std::to_string(stand) + ".db")).string(), (stand - 1) * 10000,
                        10000, stand);
  if (!made) {
    std::printf("  the office's databases were not made\n");
    fs::remove_all(dir);
    return;
  }
  std::string qs = "'" + qsPath + "' report --db ";
  double csv = office::timed(qs + "'" + one + "' --csv '" + (dir / "one.csv").string() + "'");
  double registry = office::timed(qs + "'" + one + "' --registry '" + (dir / "one.xml").string() + "'");
  addRow("registry upload of 100 000 runs, against CSV", fmt("%.0f ms", registry), fmt("%.0f ms CSV", csv),
         csv > 0 ? registry / csv : 0, "<= 1.50");
  double merged = office::timed(qs + "'" + (dir / "copies").string() + "' --csv '" + (dir / "ten.csv").string() + "'");
  addRow("report over 10 copies of 10 000 runs", fmt("%.0f ms", merged), fmt("%.0f ms one db", csv),
         csv > 0 ? merged / csv : 0, "<= 1.30");
  fs::remove_all(dir);
}

// A point measured as a laboratory measures it (10 s settling, 3
// readings, 30 s from the point set to the last reading) against the larger
// of its minimum time and its settling plus three reports of the
// installation.
void labPoint() {
  sim::ZuSim installation;
  qs::ZuController zu;
  zu.open(std::make_unique<sim::LoopbackChannel>(installation));
  zu.startReader();
  zu.testPoints = {standPoint()};
  qs::MeasureSettings lab;
  qs::parseMeasure("10 3 30 25", &lab);
  qs::MeterMenu::PointValues v;
  int r = qs::measurePointOn(zu, zu.testPoints[0], lab, 0, &v);
  zu.close();
  double limit = std::max(lab.minSeconds * 1000, lab.settlingSeconds * 1000 + 3.0 * installation.reportMs);
  if (r != 0 || v.readings.size() != 3) std::printf("  the laboratory point was not measured (%d)\n", r);
  addRow("a point with laboratory figures: set to last", fmt("%.0f ms", static_cast<double>(v.pointMs)),
         fmt("%.0f ms", limit), v.pointMs / limit, "<= 1.10");
}

void startup(const std::string& qsPath) {
  std::vector<double> times;
  long rssKb = 0;
  fs::path dir = fs::temp_directory_path() / ("qs-bench-start-" + std::to_string(getpid()));
  fs::create_directories(dir / "QS_ADD");
  for (const auto& entry : fs::directory_iterator(QS_SOURCE_DIR "/samples/QS_ADD"))
    fs::copy_file(entry.path(), dir / "QS_ADD" / entry.path().filename(), fs::copy_options::overwrite_existing);
  std::ofstream(dir / "QS_ADD" / "common.sch") << "Task_1:\t3\t21\t\n";
  ServedLine served(false, false, (dir / "QS_ADD" / "com3").string());
  for (int round = 0; round < 3; ++round) {
    int master = -1;
    winsize size{};
    size.ws_row = 38;
    size.ws_col = 100;
    auto start = Clock::now();
    pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("TERM", "xterm", 1);
      execl(qsPath.c_str(), qsPath.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) return;
    std::string out;
    bool drawn = false;
    while (msSince(start) < 20000 && !drawn) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      drawn = out.find("Выход.") != std::string::npos;
    }
    if (drawn) {
      times.push_back(msSince(start));
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) rssKb = std::max(rssKb, std::atol(line.c_str() + 6));
    }
    (void)!write(master, "\x1b", 1);
    for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(master);
  }
  fs::remove_all(dir);
  addRow("start-up to the first drawn menu (median)", fmt("%.0f ms", median(times)), "", 0, "");
  addRow("resident memory of qs (peak)", fmt("%.1f MiB", rssKb / 1024.0), "", 0, "");
}

}  // namespace

int main(int argc, char** argv) {
  // qs-bench [--only SECTION] [path of qs]; sections: exchange views eeprom
  // scan profile mailbox stand records office labpoint startup.
  std::string only, qsPath = (fs::path(argv[0]).parent_path().parent_path() / "qs").string();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--only" && i + 1 < argc) only = argv[++i];
    else qsPath = a;
  }
  qsPath = fs::absolute(qsPath).string();  // (the sections below work in a folder of their own)
  auto wanted = [&](const char* section) { return only.empty() || only == section; };
  std::printf("qs-bench: ratios against the protocol's limits at %u baud\n", kBaud);
  qs::VirtualConsole vc;
  qs::Console::init(&vc);
  fs::path work = fs::temp_directory_path() / ("qs-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  fs::path saved = fs::current_path();
  fs::current_path(work);  // scale.bin and listing files land here
  if (wanted("exchange")) {
    exchange(false);
    exchange(true);
  }
  if (wanted("views")) liveViews(vc);
  if (wanted("eeprom")) eepromSave(vc);
  if (wanted("scan")) lineScan();
  if (wanted("profile")) profileDays();
  if (wanted("mailbox")) mailbox();
  if (wanted("stand")) stand();
  if (wanted("records")) records(qsPath);
  if (wanted("office")) officeRegister(qsPath);
  if (wanted("labpoint")) labPoint();
  fs::current_path(saved);
  fs::remove_all(work);
  if (wanted("startup")) startup(fs::absolute(qsPath).string());
  printTable();
  bool held = std::all_of(gRows.begin(), gRows.end(), [](const Row& r) { return r.held; });
  std::printf("\n%s\n", held ? "every target held" : "some targets missed (see above)");
  return 0;
}
