#include "app/entry.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/application.h"
#include "channel/channel.h"
#include "settings/settings.h"
#include "devlink/dev_link.h"
#include "platform/console_control.h"
#include "platform/process.h"
#include "platform/station_identity.h"
#include "records/report.h"
#include "records/run_recorder.h"
#include "sync/sync_link.h"
#include "zu/zu_controller.h"
#include "app/version.h"
#include "build/build_info.h"
#include "console/console.h"
#include "console/text_file.h"

namespace qs {
namespace {

// The stand link of this process, for the end and the console control
// handler (which runs on a thread of its own); the lock keeps the link alive
// while the handler uses it.
std::mutex gSyncLinkLock;
SyncLink* gSyncLink = nullptr;

// Tells the master that this task leaves; waits at most 1 s for the mailbox
// (another thread of this process may hold it while the program ends, and a
// closing console window leaves little time).
void postLeave() {
  std::lock_guard<std::mutex> lock(gSyncLinkLock);
  if (gSyncLink != nullptr && gSyncLink->attached == 1 && gSyncLink->role == 1) {
    gSyncLink->markLeaving();  // freed at once, even if the mailbox is busy
    gSyncLink->post(simpleMessage(kMsgLeave), 1000);
    gSyncLink->attached = 0;  // left: said once
  }
}

// Why a run ended by a control event ended, as its record keeps it.
const char* controlEventReason(int event) {
  if (event == platform::kCtrlC) return "Ctrl-C";
  if (event == platform::kCtrlBreak) return "Ctrl-Break";
  return "окно закрыто";  // the window closed (or the system ends the session)
}

// The stand link in use from here on, or none.
void useSyncLink(SyncLink* link) {
  std::lock_guard<std::mutex> lock(gSyncLinkLock);
  gSyncLink = link;
}

}  // namespace

bool onConsoleControl(int event) {
  // The run going on ends first, with its points and why; only then is the
  // master told that this task leaves.
  records::endOpenRuns(controlEventReason(event), kRunEndWithinMs);
  postLeave();
  return false;
}

RunSelection parseRunMode(int argc, const char* const* argv) {
  RunSelection sel;
  if (argc < 2 || argv[1] == nullptr) return sel;
  const char* arg = argv[1];
  if (arg[0] == 'm') {
    sel.mode = RunMode::Master;
  } else if (arg[0] == 's') {
    sel.mode = RunMode::Slave;
    sel.taskNumber = static_cast<int>(decimalValue(arg + 1));
  }
  return sel;
}

bool chooseChannel(const std::string& settingsFile, StartupParams& params) {
  char portDigit = params.channelName.size() > 3 ? params.channelName[3] : '2';
  // A missing file or line keeps the defaults.
  readTaskLine(settingsFile, "Task", params.taskNumber, &portDigit, &params.deviceAddress);
  params.channelName[3] = portDigit;
  if (portDigit != '0') return true;

  Console::clearLines(0, 1);
  char answer[100] = "";
  if (Console::readLine(kChannelPrompt, kChannelPromptMax, answer) == kKeyEsc) return false;
  if (answer[0] != '\0') {
    params.channelName = answer;
  } else {
    params.channelName = kDefaultServerAddress;
    Console::print("\nОшибка порт указан не верно....");
  }
  Console::clearLines(0, 1);
  return true;
}

bool handleInfoArguments(int argc, const char* const* argv) {
  if (argc < 2) return false;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
    std::printf("%s\n", softwareText().c_str());
    return true;
  }
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0) {
    // (Russian text, whatever the console's code page.)
    platform::useUtf8Output();
    std::string help;
    appendf(help, 
        "qs %s - обслуживание и поверка трёхфазных счётчиков с функциями телемеханики\n"
        "\n"
        "Вызов:\n"
        "  qs          один стенд: прибор строки Task_1 файла QS_ADD/common.sch\n"
        "  qs m        ведущая задача стенда поверки (управляет установкой)\n"
        "  qs sN       место N стенда под запущенной ведущей задачей\n"
        "  qs report   записи поверок из results.db (qs report --help)\n"
        "  qs --help   эта справка;  qs --version  версия\n"
        "\n"
        "Настройки читаются из папки QS_ADD рабочей папки (common.sch, common1.sch,\n"
        "reg_7758_1.txt, meters.sch, classes.sch). Строка Task с портом 0 - qs спросит\n"
        "COM-порт или адрес IP:PORT ретранслятора.\n",
        QS_VERSION);
    platform::writeText(stdout, help);
    return true;
  }
  return false;
}

std::string startupSettingsProblem(const std::string& settingsFile, const RunSelection& sel) {
  char digit = '0';
  uint8_t address = 0;
  std::string problem;
  if (readTaskLine(settingsFile, "Task", sel.taskNumber, &digit, &address, &problem) != 0) {
    std::error_code ec;
    std::u8string folder = std::filesystem::current_path(ec).u8string();
    return "нет файла " + settingsFile + " в папке " + std::string(folder.begin(), folder.end());
  }
  // A master has no device of its own: its Task line names none.
  return sel.mode == RunMode::Master ? "" : problem;
}

void reportSettingsProblem(const std::string& problem) {
  Console::clearLines(0, 4);
  Console::print("%s", problem.c_str());
  Console::print("\nНажмите любую клавишу.");
  Console::readKey();
}

void reportStartupFailure(long status, const std::string& channelName, int taskNumber) {
  Console::clearLines(0, 4);
  std::string check;
  if (status >= -19999) {
    Console::print("Ошибка %s невозможно открыть порт.", channelName.c_str());
    std::string where = channelWhere(channelName);
    if (relayName(channelName))
      check = "Проверьте " + where + ": включён ли он и доступен ли по сети.\nАдрес спрашивается при запуске, когда в строке Task_" +
              std::to_string(taskNumber) + " файла QS_ADD/common.sch порт 0.";
    else
      check = "Проверьте " + where + ": подключён ли он и не занят ли другой программой.\nПорт задаёт строка Task_" +
              std::to_string(taskNumber) + " файла QS_ADD/common.sch.";
  } else if (status >= -29999) {
    Console::print("Ошибка инициализации протокола Dev.");
  } else if (status >= -39999) {
    Console::print("Ошибка инициализации регистров Dev.");
    check = "Проверьте строки файла QS_ADD/reg_7758_1.txt (образец - в samples/QS_ADD).";
  } else {
    Console::print("Ошибка(%ld) инициализации Dev.", status);
    check = "Проверьте, что есть файл QS_ADD/reg_7758_1.txt (образец - в samples/QS_ADD).";
  }
  if (!check.empty()) Console::print("\n%s", check.c_str());
  Console::print("\nНажмите любую клавишу.");
  Console::readKey();
}

void installationPortStep(ZuController& zu) {
  uint8_t port[2] = {0, 0};
  if (zu.readPortSetting(settingsPath("common.sch"), port) != 0 || port[1] != 1) return;
  char name[16];
  std::snprintf(name, sizeof name, "COM%u:", static_cast<unsigned>(port[0]));
  zu.toggleAuto(name);
}

int runEntry(int argc, char** argv) {
  if (handleInfoArguments(argc, argv)) return 0;
  if (argc >= 2 && std::strcmp(argv[1], "report") == 0) {  // the records, for the office: no screen
    platform::useUtf8Output();
    // File names after "report" may be in any alphabet: taken as UTF-8 from
    // the system's own form of the command line.
    std::vector<std::string> args = platform::utf8Arguments(argc, argv);
    args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(2, args.size())));
    return records::runReport(args, stdout, stderr, settingsPath("station.id"));
  }

  Console::init();
  platform::addConsoleControlHandler(onConsoleControl);
  RunSelection sel = parseRunMode(argc, argv);

  StartupParams params;
  if (sel.mode == RunMode::Slave) params.taskNumber = sel.taskNumber;
  // Settings that do not name this bench's device are said as they are,
  // not as a port that does not open.
  std::string problem = startupSettingsProblem(settingsPath("common.sch"), sel);
  if (!problem.empty()) {
    reportSettingsProblem(problem);
    return kStartupFailed;
  }
  if (!chooseChannel(settingsPath("common.sch"), params)) return 0;

  // Verification runs of this computer that a process left without an end
  // (killed, or its stand stopped) are marked lost as the next one starts.
  // The computer's identity is made here, before a master starts its
  // benches, so that they all find the one it made.
  std::string station = platform::stationIdentity(settingsPath("station.id"));
  if (std::FILE* f = std::fopen(records::kDatabaseName, "rb")) {
    std::fclose(f);
    std::string error;
    if (auto db = records::ResultsDb::open(records::kDatabaseName, records::ResultsDb::Access::Write, &error))
      db->markLostRuns(station, platform::workstationName(), &error);
  }

  // The reference installation's controller and the start-up programme.
  auto zu = std::make_unique<ZuController>();
  zu->loadProgramme(settingsPath("common.sch"), "Ver", 0x0A080001, 1, 1);

  // The bench's own device: standalone and slave mode build the device link
  // on the start-up channel at 115200 baud; the master has no device.
  std::unique_ptr<DevLink> link;
  if (sel.mode != RunMode::Master) {
    link = std::make_unique<DevLink>(params.deviceAddress, params.channelName, 115200,
                                     settingsPath("reg_7758_1.txt"));
    if (link->initStatus < 0) {
      // Ended because it cannot do its work: a launcher or script sees it.
      reportStartupFailure(link->initStatus, params.channelName, params.taskNumber);
      return kStartupFailed;
    }
  }

  if (sel.mode == RunMode::Standalone) {
    installationPortStep(*zu);
    Application application(*link, zu.get());
    return 0;
  }

  // Master and slave: the stand link, given to the controller. The link
  // outlives every thread that uses its block: the master's thread has
  // ended when runMaster returns, and the installation's reader is stopped
  // (the installation reset) before the link goes.
  auto sync = std::make_unique<SyncLink>(platform::ownProgramPath(argc > 0 ? argv[0] : nullptr), link.get(), zu.get());
  zu->sync = sync.get();
  if (sel.mode == RunMode::Master) {
    installationPortStep(*zu);
    sync->runMaster(nullptr);
    zu->close();
    zu->sync = nullptr;
    return 0;
  }
  useSyncLink(sync.get());
  if (sync->joinMaster(link.get(), sel.taskNumber) == 0) {
    Application application(*link, zu.get());
  }
  postLeave();
  useSyncLink(nullptr);
  zu->sync = nullptr;
  return 0;
}

}  // namespace qs
