#include "records/report.h"

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "console/text_file.h"
#include "console/whole_file.h"
#include "platform/process.h"

namespace qs::records {
namespace {

constexpr const char* kIncompleteText = "запись неполная";

const char* endText(RunEnd end) {
  switch (end) {
    case RunEnd::Finished: return "завершена";
    case RunEnd::Interrupted: return "прервана";
    case RunEnd::Lost: return "потеряна";
    default: return "идёт";
  }
}

// The run's verdict as words: none where the record is short of what the
// bench showed.
std::string verdictText(const RunRow& r) {
  if (r.incomplete()) return kIncompleteText;
  return r.verdict.empty() ? "-" : stateText(stateOfWord(r.verdict));
}

// A number as a Russian reader and spreadsheet read it: a decimal comma.
std::string decimal(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  for (char* c = text; *c; ++c)
    if (*c == '.') *c = ',';
  return text;
}

std::string csvQuoted(const std::string& s) {
  if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string html(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string programmeText(const RunInfo& r) {
  std::string out = r.programmeKey;
  appendf(out, " %d", r.programmeId);
  return out;
}

// The writer's local time, and its offset from UTC for a protocol.
std::string whenText(const Stamp& s) { return s.known() ? localText(s) : "-"; }

// How a run measured its points, from its record ("10 3 30 25").
std::string measureShown(const std::string& measure) {
  if (measure.empty()) return "одно значение каждого канала";
  char settling[16], readings[16], seconds[16], pulses[16];
  if (std::sscanf(measure.c_str(), "%15s %15s %15s %15s", settling, readings, seconds, pulses) != 4) return measure;
  return std::string("выдержка ") + settling + " с, отсчётов " + readings + ", не менее " + seconds + " с и " +
         pulses + " импульсов";
}
std::string offsetText(const Stamp& s) {
  int m = s.offsetMin < 0 ? -s.offsetMin : s.offsetMin;
  char text[32];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", s.offsetMin < 0 ? '-' : '+', m / 60, m % 60);
  return text;
}

const char* kUsage =
    "qs report - the verification records of results.db in the working folder\n"
    "\n"
    "Usage: qs report [--serial N] [--since YYYY-MM-DD] [--last N] [--csv FILE] [--html FILE] [--copy FILE] [--db FILE]\n"
    "  (no option)        the latest 50 runs, one line each, newest first\n"
    "  --serial N         the runs of the meter with serial number N (as the header shows it, e.g. 00A001)\n"
    "  --since DATE       the runs started on or after DATE (the bench's local date)\n"
    "  --last N           at most N runs (0: all; the default is 50, or all with --csv or --html)\n"
    "  --csv FILE         writes the points of the selected runs to FILE: UTF-8 with a BOM, ';' between\n"
    "                     fields and a decimal comma, as a spreadsheet in a Russian locale reads it\n"
    "  --html FILE        writes a printable protocol of the selected runs to FILE, one page per run\n"
    "  --copy FILE        writes a consistent copy of the whole database to FILE (a new file), for the office\n"
    "  --db FILE          another results database (opened for reading only)\n"
    "Exit status 0, or 1 with a message (no database, a damaged one, a file not written).\n";

// Text padded with spaces to `width` characters (not bytes).
std::string padded(const std::string& s, size_t width) {
  size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  return chars >= width ? s : s + std::string(width - chars, ' ');
}

bool validDate(const std::string& d) {
  if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
    if (d[i] < '0' || d[i] > '9') return false;
  int y = std::atoi(d.c_str()), m = std::atoi(d.c_str() + 5), day = std::atoi(d.c_str() + 8);
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || day < 1 || day > kDays[m - 1]) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return !(m == 2 && day == 29 && !leap);
}

// A count as typed: digits only, at most nine of them.
bool countOf(const std::string& text, int* out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::atoi(text.c_str());
  return true;
}

// Text for the operator: printf-formatted, written whole; false when it
// could not be.
bool say(std::FILE* to, const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  appendfv(text, format, args);
  va_end(args);
  return platform::writeText(to, text);
}

bool sameName(const std::string& x, const std::string& y) {
  std::filesystem::path a, b;
  if (!pathOfName(x, &a) || !pathOfName(y, &b)) return x == y;
  std::error_code ea, eb;
  std::filesystem::path ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
  return ea || eb ? x == y : ca == cb;
}

// Whether a file named `name` is the database at `db` or one of the files
// SQLite keeps beside it, or another SQLite database or journal: an output
// (or the temporary file it is first written to) never takes its place.
bool isDatabase(const std::string& name, const std::string& db) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    if (sameName(name, db + suffix)) return true;
  std::filesystem::path a;
  if (!pathOfName(name, &a)) return false;
  std::ifstream in(a, std::ios::binary);
  unsigned char head[16] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.gcount() == 16 && std::memcmp(head, "SQLite format 3", 16) == 0) return true;
  static const unsigned char kWal[3] = {0x37, 0x7F, 0x06};
  return in.gcount() >= 4 && std::memcmp(head, kWal, 3) == 0 && (head[3] == 0x82 || head[3] == 0x83);
}

bool refusedOutput(const std::string& name, const std::string& db) {
  return isDatabase(name, db) || isDatabase(name + ".tmp", db);
}

// A copy of the database put in place whole: written beside its name
// first, so a failed copy leaves nothing half made.
bool copyDatabase(ResultsDb& db, const std::string& name, std::string* error) {
  std::filesystem::path target, temp;
  if (!pathOfName(name, &target) || !pathOfName(name + ".tmp", &temp)) {
    *error = "имя файла";
    return false;
  }
  std::error_code ec;
  if (std::filesystem::exists(temp, ec)) {  // somebody's file: not ours to remove
    *error = name + ".tmp уже есть";
    return false;
  }
  bool ok = db.copyTo(name + ".tmp", error);
  if (ok) {
    std::filesystem::rename(temp, target, ec);
    if (ec) {
      *error = ec.message();
      ok = false;
    }
  }
  if (!ok) std::filesystem::remove(temp, ec);
  return ok;
}

}  // namespace

std::string csvText(const std::string& s) {
  // Text that begins as a formula would be one in a spreadsheet: an
  // apostrophe before it keeps it text.
  if (!s.empty() && std::strchr("=+-@\t\r", s[0]) != nullptr) return csvQuoted("'" + s);
  return csvQuoted(s);
}

std::string csvIdentifier(const std::string& s) {
  if (s.empty()) return "";
  // ="012345" is text to every spreadsheet: its zeros, an E, its dots stay.
  std::string formula = "=\"";
  for (char c : s) {
    if (c == '"') formula += '"';
    formula += c;
  }
  return csvQuoted(formula + "\"");
}

std::string runsListing(const std::vector<RunRow>& runs) {
  std::string out =
      "   N  Начало               Конец                Стенд Адрес Номер    Программа          Окончание  Итог            "
      "Точек\n";
  for (const RunRow& r : runs) {
    appendf(out, "%4lld  %-19s  %-19s  %5d  %02Xh  %-8s %-18s %s %s %5d\n", static_cast<long long>(r.id),
            whenText(r.info.started).c_str(), whenText(r.ended).c_str(), r.info.bench, r.info.address & 0xFF,
            r.info.serial.empty() ? "-" : r.info.serial.c_str(), programmeText(r.info).c_str(),
            padded(endText(r.end), 10).c_str(), padded(verdictText(r), 15).c_str(), r.recorded);
  }
  if (runs.empty()) out += "(нет записей)\n";
  return out;
}

std::string pointsCsv(const std::vector<ReportRun>& runs) {
  std::string out = "\xEF\xBB\xBF";
  out +=
      "Прогон;Начало;Конец;Станция;Стенд;Адрес;Серийный номер;Тип;Версия;Программа;Идентификатор;Файл программы;"
      "Окончание;Итог прогона;Место;Точка;U, В;I, А;PF;Нагрузка;Фазы;Среднее;Канал 1;Канал 2;Канал 3;"
      "Время измерения;Длительность, с;Допуск, %;Источник допуска;Итог точки;Причина;Размах 1;Размах 2;Размах 3;"
      "Отсчётов;Выдержка, с;Импульсов;Предупреждение;Тип счётчика;Класс;Повтор прогона;Измерение\r\n";
  for (const ReportRun& rr : runs) {
    const RunRow& r = rr.run;
    std::string head;
    appendf(head, "%lld;", static_cast<long long>(r.id));
    head += csvText(localText(r.info.started)) + ";" + csvText(localText(r.ended)) + ";" +
            csvText(r.info.workstation) + ";";
    char address[8];
    std::snprintf(address, sizeof address, "%02X", r.info.address & 0xFF);
    appendf(head, "%d;", r.info.bench);
    head += csvIdentifier(address) + ";" + csvIdentifier(r.info.serial) + ";" + csvText(r.info.deviceType) + ";" +
            csvIdentifier(r.info.version) + ";" + csvText(r.info.programmeKey) + ";";
    appendf(head, "%d;", r.info.programmeId);
    head += csvText(r.info.programmeFile) + ";" + endText(r.end) + ";" +
            (r.incomplete() ? kIncompleteText : r.verdict.empty() ? "" : stateText(stateOfWord(r.verdict))) + ";";
    for (const PointRecord& p : rr.points) {
      out += head;
      appendf(out, "%d;%d;", p.seq, p.number);
      out += decimal(p.U, 2) + ";" + currentText(p.I, ',') + ";" + decimal(p.PF, 2) + ";" + csvText(p.load) + ";" +
             csvText(p.phases) + ";";
      out += (p.averageFresh ? fixed3(p.average, ',') : "") + ";";
      for (int n = 0; n < 3; ++n) out += (p.channelFresh[n] ? fixed3(p.channel[n], ',') : "") + ";";
      out += csvText(localText(p.measured)) + ";" + decimal(p.durationMs / 1000.0, 1) + ";";
      out += csvText(limitShown(p.limit)) + ";" + csvText(p.limitSource) + ";";
      out += std::string(stateText(p.state)) + ";" + csvText(p.reason) + ";";
      for (int n = 0; n < 3; ++n) out += (p.spreadKnown[n] ? fixed3(p.spread[n], ',') : "") + ";";
      appendf(out, "%d;", static_cast<int>(p.readings.size()));
      out += decimal(p.settlingMs / 1000.0, 1) + ";" + (p.pulses >= 0 ? decimal(p.pulses, 1) : "") + ";" +
             csvText(p.warning) + ";" + csvText(r.info.meterType) + ";" + csvText(r.info.meterClass) + ";" +
             (r.info.retestOf > 0 ? std::to_string(r.info.retestOf) : "") + ";" + csvText(r.info.measure) + "\r\n";
    }
  }
  return out;
}

std::string protocolHtml(const std::vector<ReportRun>& runs) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>Протоколы поверки</title>\n"
      "<style>\n"
      "body { font-family: sans-serif; font-size: 11pt; margin: 1.5cm; }\n"
      "section { page-break-after: always; break-after: page; }\n"
      "section:last-of-type { page-break-after: auto; break-after: auto; }\n"
      "table { border-collapse: collapse; margin: 0.5em 0 1em; }\n"
      "th, td { border: 1px solid #444; padding: 2px 6px; text-align: right; }\n"
      "th { background: #eee; }\n"
      "table.meter th, table.meter td { text-align: left; }\n"
      ".passed { color: #060; } .failed { color: #a00; font-weight: bold; } .notmeasured { color: #a60; }\n"
      "</style>\n</head>\n<body>\n";
  if (runs.empty()) out += "<p>Нет записей.</p>\n";
  for (const ReportRun& rr : runs) {
    const RunRow& r = rr.run;
    auto stateClass = [](PointState s) {
      return s == PointState::Passed ? "passed" : s == PointState::Failed ? "failed" : "notmeasured";
    };
    appendf(out, "<section>\n<h1>Протокол поверки № %lld", static_cast<long long>(r.id));
    if (r.info.retestOf > 0) appendf(out, " (повторно, к протоколу № %lld)", static_cast<long long>(r.info.retestOf));
    out += "</h1>\n<table class=\"meter\">\n";
    auto row = [&](const char* name, const std::string& v) {
      out += "<tr><th>";
      out += name;
      out += "</th><td>" + html(v) + "</td></tr>\n";
    };
    row("Серийный номер", r.info.serial.empty() ? "не считан" : r.info.serial);
    row("Тип", r.info.deviceType);
    if (!r.info.meterType.empty())
      row("Тип счётчика", r.info.meterType + ", класс " + r.info.meterClass +
                              (r.info.typeNote.empty() ? "" : " (" + r.info.typeNote + ")"));
    else if (!r.info.typeNote.empty())
      row("Тип счётчика", r.info.typeNote);
    row("Версия", r.info.version);
    char address[16];
    std::snprintf(address, sizeof address, "%02Xh", r.info.address & 0xFF);
    row("Модемный номер", address);
    row("Программа", programmeText(r.info) + (r.info.programmeFile.empty() ? "" : " (" + r.info.programmeFile + ")"));
    row("Рабочее место", r.info.workstation + (r.info.bench > 0 ? ", стенд " + std::to_string(r.info.bench) : ""));
    row("Начало", r.info.started.known() ? whenText(r.info.started) + " (" + offsetText(r.info.started) + ")" : "-");
    row("Конец", r.ended.known() ? whenText(r.ended) + " (" + offsetText(r.ended) + ")" : "-");
    row("Окончание", endText(r.end));
    row("Измерение точки", measureShown(r.info.measure));
    out += "</table>\n";
    if (!rr.points.empty())
      out +=
          "<table class=\"points\">\n<tr><th>N</th><th>U, В</th><th>I, А</th><th>PF</th><th>Фазы</th>"
          "<th>Среднее</th><th>Канал 1, %</th><th>Канал 2, %</th><th>Канал 3, %</th><th>Допуск, %</th>"
          "<th>Источник допуска</th><th>Размах 1/2/3, %</th><th>Имп.</th><th>Время</th><th>Длит., с</th>"
          "<th>Итог</th></tr>\n";
    for (const PointRecord& p : rr.points) {
      appendf(out, "<tr><td>%d</td>", p.number);
      out += "<td>" + decimal(p.U, 2) + "</td><td>" + currentText(p.I, ',') + "</td><td>" + decimal(p.PF, 2) +
             "</td>";
      out += "<td>" + html(p.phases + (p.load.empty() ? "" : " " + p.load)) + "</td>";
      out += "<td>" + (p.averageFresh ? fixed3(p.average, ',') : "нет") + "</td>";
      for (int n = 0; n < 3; ++n) out += "<td>" + (p.channelFresh[n] ? fixed3(p.channel[n], ',') : "нет") + "</td>";
      out += "<td>" + (p.limit.empty() ? "-" : html(limitShown(p.limit))) + "</td>";
      out += "<td>" + (p.limit.empty() || p.limitSource.empty() ? "-" : html(p.limitSource)) + "</td>";
      std::string spreads;
      for (int n = 0; n < 3; ++n) spreads += (n > 0 ? " / " : "") + (p.spreadKnown[n] ? fixed3(p.spread[n], ',') : "-");
      out += "<td>" + spreads + "</td><td>" + (p.pulses >= 0 ? decimal(p.pulses, 0) : "-") + "</td>";
      std::string measured = localText(p.measured);
      out += "<td>" + html(measured.size() > 11 ? measured.substr(11) : measured) + "</td>";
      out += "<td>" + decimal(p.durationMs / 1000.0, 1) + "</td>";
      std::string state = stateText(p.state);
      if ((p.state == PointState::NotMeasured || p.state == PointState::NotJudged) && !p.reason.empty())
        state += " (" + p.reason + ")";
      if (!p.warning.empty()) state += (state.empty() ? "" : "; ") + p.warning;
      if (state.empty()) out += "<td>-</td></tr>\n";
      else out += std::string("<td class=\"") + stateClass(p.state) + "\">" + html(state) + "</td></tr>\n";
    }
    if (!rr.points.empty()) out += "</table>\n";
    if (rr.points.empty()) out += "<p>Нет измеренных точек.</p>\n";
    if (r.incomplete()) {
      appendf(out,
              "<p class=\"notmeasured\">Запись неполная: на стенде показано точек %d, в записи %d. "
              "Заключение не выносится.</p>\n",
              r.shown, r.recorded);
    } else if (r.verdict.empty()) {
      if (r.end == RunEnd::Finished) out += "<p>Допуск в программе не задан: заключение не выносится.</p>\n";
      else out += "<p>Поверка не завершена: заключение не выносится.</p>\n";
    } else {
      out += std::string("<p class=\"") + stateClass(stateOfWord(r.verdict)) + "\">Заключение: " + verdictText(r) +
             ".</p>\n";
    }
    out += "<p>Поверитель: ____________________</p>\n</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& stationFile) {
  std::string serial, since, csv, htmlFile, copy, path = kDatabaseName;
  bool serialGiven = false;
  int last = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return platform::writeText(out, kUsage) ? 0 : 1;
    bool takesValue = a == "--serial" || a == "--since" || a == "--csv" || a == "--html" || a == "--db" ||
                      a == "--last" || a == "--copy";
    if (!takesValue) {
      say(err, "qs report: неизвестный параметр %s (см. qs report --help)\n", a.c_str());
      return 1;
    }
    if (i + 1 >= args.size()) {
      say(err, "qs report: после %s нужно значение\n", a.c_str());
      return 1;
    }
    const std::string& v = args[++i];
    if (a == "--serial") {
      serial = v;
      serialGiven = true;
    } else if (a == "--since") {
      since = v;
    } else if (a == "--csv") {
      csv = v;
    } else if (a == "--html") {
      htmlFile = v;
    } else if (a == "--copy") {
      copy = v;
    } else if (a == "--db") {
      path = v;
    } else if (!countOf(v, &last)) {
      say(err, "qs report: --last %s: нужно число прогонов (0: все)\n", v.c_str());
      return 1;
    }
  }
  if (serialGiven && serial.empty()) {
    say(err, "qs report: --serial: пустой номер\n");
    return 1;
  }
  if (!since.empty() && !validDate(since)) {
    say(err, "qs report: дата %s не в виде ГГГГ-ММ-ДД\n", since.c_str());
    return 1;
  }
  // No output takes the place of a database, and no two outputs share a file.
  for (const std::string* name : {&csv, &htmlFile}) {
    if (!name->empty() && refusedOutput(*name, path)) {
      say(err, "qs report: %s - это база данных; отчёт в неё не пишется\n", name->c_str());
      return 1;
    }
  }
  if (!copy.empty() && refusedOutput(copy, path)) {
    say(err, "qs report: %s - база данных; копия пишется только в новый файл\n", copy.c_str());
    return 1;
  }
  if (!csv.empty() && (sameName(csv, htmlFile) || sameName(csv, copy))) {
    say(err, "qs report: один файл %s назван для двух отчётов\n", csv.c_str());
    return 1;
  }
  if (!htmlFile.empty() && sameName(htmlFile, copy)) {
    say(err, "qs report: один файл %s назван для двух отчётов\n", htmlFile.c_str());
    return 1;
  }
  if (last < 0) last = csv.empty() && htmlFile.empty() ? 50 : 0;

  std::string error;
  std::unique_ptr<ResultsDb> db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
  if (db == nullptr) {
    say(err, "qs report: база результатов %s не читается: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  int status = 0;
  if (!copy.empty()) {
    if (copyDatabase(*db, copy, &error)) {
      if (!say(out, "%s: копия базы результатов записана.\n", copy.c_str())) status = 1;
    } else {
      say(err, "qs report: копия %s не записана: %s\n", copy.c_str(), error.c_str());
      return 1;
    }
    if (csv.empty() && htmlFile.empty()) return status;
  }
  std::vector<RunRow> runs;
  if (!db->runs(serial, since, last, &runs, &error)) {
    say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::vector<ReportRun> full;
  full.reserve(runs.size());
  bool lostFound = false;
  std::string station = stationIdentity(stationFile, false), workstation = platform::workstationName();
  for (RunRow& r : runs) {
    bool gone = writerGone(r, station, workstation);
    ReportRun rr{r, {}};
    if ((gone || !csv.empty() || !htmlFile.empty()) && !db->pointsOf(r.id, &rr.points, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    if (gone) {
      // Its writer is gone: lost, with the verdict its recorded points give.
      std::vector<PointState> states;
      bool anyLimit = false;
      for (const PointRecord& p : rr.points) {
        states.push_back(p.state);
        anyLimit = anyLimit || !p.limit.empty();
      }
      r.end = rr.run.end = RunEnd::Lost;
      r.verdict = rr.run.verdict = lostVerdict(states, anyLimit);
      lostFound = true;
    }
    if (!csv.empty() || !htmlFile.empty()) full.push_back(std::move(rr));
  }
  if (lostFound && db->fileVersion() == kSchemaVersion) {
    // Marked so in the file too, where this computer may write it.
    if (auto writer = ResultsDb::open(path, ResultsDb::Access::Write, &error))
      writer->markLostRuns(station, workstation, &error);
  }
  if (csv.empty() && htmlFile.empty()) return platform::writeText(out, runsListing(runs)) ? status : 1;
  auto write = [&](const std::string& name, const std::string& bytes) {
    if (name.empty()) return;
    if (writeWholeFile(name, bytes) == WriteResult::kWritten) {
      if (!say(out, "%s: %zu прогон(ов) записано.\n", name.c_str(), full.size())) status = 1;
    } else {
      say(err, "qs report: файл %s не записан.\n", name.c_str());
      status = 1;
    }
  };
  write(csv, pointsCsv(full));
  write(htmlFile, protocolHtml(full));
  return status;
}

}  // namespace qs::records
