#include "records/report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "console/codepage.h"
#include "console/text_file.h"
#include "console/whole_file.h"
#include "platform/process.h"
#include "platform/station_identity.h"
#include "metrology/validity.h"
#include "records/chart.h"
#include "settings/calendar.h"
#include "settings/laboratory.h"

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
  return r.verdict.empty() ? "-" : metrology::verdictShown(r.verdict, r.withoutLimit);
}

// The verdict the record supports, as stored words.
std::string verdictWord(const RunRow& r) { return metrology::supportedVerdict(r.verdict, r.withoutLimit); }

// A number as a Russian reader and spreadsheet read it: a decimal comma.
std::string decimal(double v, int decimals) { return decimalFixed(v, decimals); }

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

// A run's programme by the title its key line gave it; a record without
// one (an older qs) by its key and identity.
std::string programmeText(const RunInfo& r) {
  if (!r.programmeTitle.empty()) return r.programmeTitle;
  std::string out = r.programmeKey;
  appendf(out, " %d", r.programmeId);
  return out;
}


// How a run measured its points, from its record ("10 3 30 25").
std::string measureShown(const std::string& measure) {
  if (measure.empty()) return "одно значение каждого канала";
  char settling[16], readings[16], seconds[16], pulses[16];
  if (std::sscanf(measure.c_str(), "%15s %15s %15s %15s", settling, readings, seconds, pulses) != 4) return measure;
  return std::string("выдержка ") + settling + " с, отсчётов " + readings + ", не менее " + seconds + " с и " +
         pulses + " импульсов";
}
const char* kUsage =
    "qs report - the verification records of results.db in the working folder\n"
    "\n"
    "Usage: qs report [--serial N] [--since YYYY-MM-DD] [--last N] [--csv FILE] [--html FILE] [--html-dir DIR]\n"
    "                 [--svg DIR] [--copy FILE] [--db FILE]\n"
    "  (no option)        the latest 50 runs, one line each, newest first\n"
    "  --serial N         the runs of the meter with serial number N (as the header shows it, e.g. 00A001)\n"
    "  --since DATE       the runs started on or after DATE (the bench's local date)\n"
    "  --last N           at most N runs (0: all; the default is 50, or all with --csv or --html)\n"
    "  --csv FILE         writes the points of the selected runs to FILE: UTF-8 with a BOM, ';' between\n"
    "                     fields and a decimal comma, as a spreadsheet in a Russian locale reads it\n"
    "  --html FILE        writes a printable protocol of the selected runs to FILE, one A4 page per run\n"
    "  --html-dir DIR     writes each run's protocol to a file of its own in DIR (protocol-N-SERIAL.html)\n"
    "  --svg DIR          writes each run's error curve to DIR (chart-N-SERIAL.svg) for other documents\n"
    "  --copy FILE        writes a consistent copy of the whole database to FILE (a new file), for the office\n"
    "  --db FILE          another results database (opened for reading only)\n"
    "Exit status 0, or 1 with a message (no database, a damaged one, a file not written).\n";

// Text padded with spaces to `width` characters (not bytes).
std::string padded(const std::string& s, size_t width) {
  size_t chars = characterCount(s);
  return chars >= width ? s : s + std::string(width - chars, ' ');
}

bool validDate(const std::string& d) { return isCalendarDate(d); }

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
// A file's name as a full path, in UTF-8 (the name as given when it has none).
std::string fullPathText(const std::string& name) {
  std::filesystem::path p;
  std::error_code ec;
  if (!pathOfName(name, &p)) return name;
  std::filesystem::path full = std::filesystem::absolute(p, ec);
  if (ec) return name;
  std::u8string text = full.lexically_normal().u8string();
  return std::string(text.begin(), text.end());
}

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

namespace {

// Text in `width` characters: padded, or cut with an ellipsis.
std::string column(const std::string& text, size_t width) {
  if (characterCount(text) <= width) return padded(text, width);
  return fittedText(text, width - 1) + "\xE2\x80\xA6";
}

// When a run ended, beside its start: the time alone on the same day.
std::string endShown(const Stamp& started, const Stamp& ended) {
  if (!ended.known()) return "-";
  std::string end = localText(ended), start = localText(started);
  if (end.size() < 16) return end;
  if (start.compare(0, 10, end, 0, 10) == 0) return end.substr(11, 5);
  return end.substr(8, 2) + "." + end.substr(5, 2) + " " + end.substr(11, 5);
}

}  // namespace

std::string runsListing(const std::vector<RunRow>& runs) {
  // 99 columns: a line of a 100-column console, never wrapped.
  std::string out =
      "   N Начало           Конец       Стенд Номер    Программа         Окончание Итог            Точек\n";
  for (const RunRow& r : runs) {
    std::string start = whenText(r.info.started);
    appendf(out, "%4lld %s %s %5d %s %s %s %s %5d\n", static_cast<long long>(r.id), column(start.substr(0, 16), 16).c_str(),
            column(endShown(r.info.started, r.ended), 11).c_str(), r.info.bench,
            column(r.info.serial.empty() ? "-" : r.info.serial, 8).c_str(), column(programmeText(r.info), 17).c_str(),
            column(endText(r.end), 9).c_str(), column(verdictText(r), 15).c_str(), r.recorded);
    // A verdict longer than its column is said whole on a line of its own.
    if (characterCount(verdictText(r)) > 15) out += "     Итог: " + verdictText(r) + "\n";
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
      "Отсчётов;Выдержка, с;Импульсов;Предупреждение;Тип счётчика;Класс;Повтор прогона;Измерение;"
      "Название программы\r\n";
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
            (r.incomplete() ? kIncompleteText : r.verdict.empty() ? "" : verdictText(r)) + ";";
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
      out += decimal(p.settlingMs / 1000.0, 1) + ";" + (p.pulses >= 0 ? decimal(std::floor(p.pulses), 0) : "") + ";" +
             csvText(p.warning) + ";" + csvText(r.info.meterType) + ";" + csvText(r.info.meterClass) + ";" +
             (r.info.retestOf > 0 ? std::to_string(r.info.retestOf) : "") + ";" + csvText(r.info.measure) + ";" +
             csvText(r.info.programmeTitle) + "\r\n";
    }
  }
  return out;
}

namespace {

// Where a protocol says that a field was not given.
std::string given(const std::string& v, const char* none = "не указано") { return v.empty() ? none : v; }

// A condition with the method's bounds (HTML): the value alone marked when
// it is outside them.
std::string conditionText(const char* name, double v, const char* unit, const std::string& bounds) {
  std::string value = conditionShown(v) + " " + unit;
  Bounds b;
  bool outside = !bounds.empty() && parseBounds(bounds, &b) && !b.holds(v);
  if (bounds.empty()) return std::string(name) + " " + html(value);
  if (!outside) return std::string(name) + " " + html(value) + " (" + html(bounds) + ")";
  return std::string(name) + " <span class=\"failed\">" + html(value) + "</span> — вне границ методики " + html(bounds);
}

metrology::RecordedConditions conditionsOf(const RunInfo& i) {
  metrology::RecordedConditions c;
  c.known = i.conditionsKnown;
  c.temperature = i.temperature;
  c.humidity = i.humidity;
  c.pressure = i.pressure;
  c.temperatureBounds = i.temperatureBounds;
  c.humidityBounds = i.humidityBounds;
  c.pressureBounds = i.pressureBounds;
  return c;
}

// The day a verification is valid until: the verification date plus the
// type's interval, less one day.
std::string validUntil(const Stamp& started, int years) {
  return lastDayAfterYears(localText(started).substr(0, 10), years);
}


}  // namespace

std::string meterVerdict(const ReportRun& rr, bool* incomplete) {
  *incomplete = rr.run.incomplete();
  std::vector<PointState> states;
  bool anyLimit = false;
  auto take = [&](const std::vector<PointRecord>& points) {
    for (const PointRecord& p : points) {
      states.push_back(p.state);
      anyLimit = anyLimit || limitSought(p);
    }
  };
  for (const ReportRun::Earlier& e : rr.earlier) {
    *incomplete = *incomplete || e.run.incomplete();
    take(e.points);
  }
  take(rr.points);
  if (rr.earlier.empty()) return verdictWord(rr.run);
  return runVerdict(states, anyLimit, rr.run.end == RunEnd::Finished);
}

bool loadAttempts(ResultsDb& db, ReportRun* rr, std::string* error) {
  rr->earlier.clear();
  rr->repeatedBy.clear();
  if (!db.retestsOf(rr->run.id, &rr->repeatedBy, error)) return false;
  // The last attempt at each point: this run's own, then those of the runs
  // before it, newest first, that no later run repeated.
  std::set<int> taken;
  for (const PointRecord& p : rr->points) taken.insert(p.number);
  std::set<int64_t> seen{rr->run.id};
  for (int64_t id = rr->run.info.retestOf; id > 0 && seen.insert(id).second;) {
    ReportRun::Earlier e;
    if (!db.run(id, &e.run, error)) return false;
    std::vector<PointRecord> points;
    if (!db.pointsOf(id, &points, error)) return false;
    for (const PointRecord& p : points)
      if (taken.count(p.number) == 0) e.points.push_back(p);
    for (const PointRecord& p : e.points) taken.insert(p.number);
    id = e.run.info.retestOf;
    rr->earlier.insert(rr->earlier.begin(), std::move(e));
  }
  return true;
}

std::string protocolHtml(const std::vector<ReportRun>& runs) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>Протоколы поверки</title>\n"
      "<style>\n"
      "@page { size: A4 portrait; margin: 1.5cm; }\n"
      "body { font-family: sans-serif; font-size: 9.5pt; margin: 0; }\n"
      "@media screen { body { max-width: 18cm; margin: 1cm auto; } }\n"
      "section { page-break-after: always; break-after: page; }\n"
      "section:last-of-type { page-break-after: auto; break-after: auto; }\n"
      "h1 { font-size: 14pt; margin: 0 0 4pt; }\n"
      "table { border-collapse: collapse; margin: 4pt 0 6pt; width: 100%; }\n"
      "th, td { border: 1px solid #444; padding: 1px 3px; text-align: right; }\n"
      "th { background: #eee; }\n"
      "table.meter th, table.meter td { text-align: left; }\n"
      "table.meter th { width: 17%; font-weight: normal; }\n"
      "table.points { font-size: 8pt; }\n"
      "table.points thead tr.head th { background: none; border: none; text-align: left; font-weight: normal; }\n"
      "tr { break-inside: avoid; }\n"
      "svg.chart { width: 100%; height: auto; break-inside: avoid; }\n"
      "p { margin: 3pt 0; }\n"
      ".sources { font-size: 8pt; }\n"
      ".passed { color: #060; } .failed { color: #a00; font-weight: bold; } .notmeasured { color: #a60; }\n"
      "</style>\n</head>\n<body>\n";
  if (runs.empty()) out += "<p>Нет записей.</p>\n";
  for (const ReportRun& rr : runs) {
    const RunRow& r = rr.run;
    const RunInfo& i = r.info;
    auto stateClass = [](PointState s) {
      return s == PointState::Passed ? "passed" : s == PointState::Failed ? "failed" : "notmeasured";
    };
    std::string serial = i.serial.empty() ? "не считан" : i.serial;
    appendf(out, "<section>\n<h1>Протокол поверки № %lld", static_cast<long long>(r.id));
    if (i.retestOf > 0) appendf(out, " (повторно, к протоколу № %lld)", static_cast<long long>(i.retestOf));
    for (size_t k = 0; k < rr.repeatedBy.size(); ++k)
      appendf(out, "%s%lld%s", k == 0 ? " (повторено: протокол № " : ", ", static_cast<long long>(rr.repeatedBy[k]),
              k + 1 == rr.repeatedBy.size() ? ")" : "");
    out += "</h1>\n<table class=\"meter\">\n";
    // Two fields to a row; a long one takes a row of its own.
    int inRow = 0;
    // (`isHtml`: the value is made already, with its marks.)
    auto row = [&](const char* name, const std::string& v, const char* cls = nullptr, bool isHtml = false) {
      bool wide = characterCount(v) > 42;
      if (inRow == 1 && wide) {
        out += "<td colspan=\"2\"></td></tr>\n";
        inRow = 0;
      }
      out += std::string(inRow == 0 ? "<tr>" : "") + "<th>" + name + "</th><td" +
             (cls != nullptr ? std::string(" class=\"") + cls + "\"" : "") + (wide ? " colspan=\"3\"" : "") + ">" +
             (isHtml ? v : html(v)) + "</td>";
      inRow = wide ? 2 : inRow + 1;
      if (inRow == 2) {
        out += "</tr>\n";
        inRow = 0;
      }
    };
    row("Лаборатория", given(i.labName) + (i.labAddress.empty() ? "" : ", " + i.labAddress));
    row("Аттестат аккредитации", given(i.labAccreditation));
    row("Методика поверки", given(i.labMethod));
    row("Серийный номер", serial);
    if (!i.meterType.empty())
      row("Тип счётчика", i.meterType + ", класс " + i.meterClass + (i.typeNote.empty() ? "" : " (" + i.typeNote + ")"));
    else
      row("Тип счётчика", given(i.typeNote));
    char address[16];
    std::snprintf(address, sizeof address, "%02Xh", i.address & 0xFF);
    row("Прибор", i.deviceType + ", версия " + i.version + ", модемный номер " + address);
    row("Программа", programmeText(i) + (i.programmeFile.empty() ? "" : " (" + i.programmeFile + ")"));
    row("Измерение точки", measureShown(i.measure));
    // The reference as the run was made with it, judged on the run's date.
    std::string started = localText(i.started).substr(0, 10);
    bool expired = metrology::referenceExpired(i.referenceDue, started);
    std::string fault = metrology::verificationFault(started, i.referenceDue, conditionsOf(i));
    // A re-test stands on the runs it completes as well.
    for (const ReportRun::Earlier& e : rr.earlier) {
      if (!fault.empty()) break;
      std::string date = localText(e.run.info.started).substr(0, 10);
      fault = metrology::verificationFault(date, e.run.info.referenceDue, conditionsOf(e.run.info));
      if (!fault.empty()) fault = "протокол № " + std::to_string(e.run.id) + ": " + fault;
    }
    bool incomplete = false;
    std::string verdict = meterVerdict(rr, &incomplete);
    int withoutLimit = r.withoutLimit;
    for (const ReportRun::Earlier& e : rr.earlier)
      for (const PointRecord& p : e.points) withoutLimit += limitSought(p) ? 0 : 1;
    if (i.referenceModel.empty()) row("Эталон", "не указан");
    else
      row("Эталон",
          i.referenceModel + (i.referenceSerial.empty() ? "" : " № " + i.referenceSerial) + ", поверен до " +
              i.referenceDue + (expired ? " — срок поверки истёк до поверки" : ""),
          expired ? "failed" : nullptr);
    if (!i.conditionsKnown) row("Условия", "не введены");
    else {
      std::string c = conditionText("температура", i.temperature, "°C", i.temperatureBounds) + "; " +
                      conditionText("влажность", i.humidity, "%", i.humidityBounds) + "; " +
                      conditionText("давление", i.pressure, "кПа", i.pressureBounds);
      row("Условия", c, nullptr, true);
    }
    row("Рабочее место", i.workstation + (i.bench > 0 ? ", стенд " + std::to_string(i.bench) : ""));
    row("Начало", i.started.known() ? whenText(i.started) + " (" + offsetText(i.started) + ")" : "-");
    row("Конец", r.ended.known() ? whenText(r.ended) + " (" + offsetText(r.ended) + ")" : "-");
    row("Окончание", endText(r.end));
    row("Программное обеспечение", given(i.software, "не записано"));
    std::string until = verdict == stateWord(PointState::Passed) && !incomplete && fault.empty()
                            ? metrology::validUntil(started, i.meterInterval)
                            : "";
    if (!until.empty()) row("Действительно до", until);
    if (inRow == 1) out += "<td colspan=\"2\"></td></tr>\n";
    out += "</table>\n";

    // The points; the head of the table comes again on every page it takes.
    std::vector<std::string> sources;
    auto sourceNumber = [&](const std::string& s) {
      for (size_t k = 0; k < sources.size(); ++k)
        if (sources[k] == s) return k + 1;
      sources.push_back(s);
      return sources.size();
    };
    bool anyPoint = !rr.points.empty();
    for (const ReportRun::Earlier& e : rr.earlier) anyPoint = anyPoint || !e.points.empty();
    if (anyPoint) {
      appendf(out, "<table class=\"points\">\n<thead><tr class=\"head\"><th colspan=\"16\">Протокол № %lld, счётчик № ",
              static_cast<long long>(r.id));
      out += html(serial) +
             "</th></tr>\n<tr><th>N</th><th>U, В</th><th>I, А</th><th>PF</th><th>Нагр.</th><th>Фазы</th><th>Среднее</th>"
             "<th>Канал 1, %</th><th>Канал 2, %</th><th>Канал 3, %</th><th>Размах, %</th>"
             "<th>Допуск, %</th><th>Ист.</th><th>Имп.</th><th>Время</th><th>Итог</th></tr>\n</thead>\n<tbody>\n";
    }
    // A re-test's table: the points that stand from the runs before it,
    // each marked with its protocol, then its own.
    std::vector<std::pair<const PointRecord*, int64_t>> rows;
    for (const ReportRun::Earlier& e : rr.earlier)
      for (const PointRecord& p : e.points) rows.push_back({&p, e.run.id});
    for (const PointRecord& p : rr.points) rows.push_back({&p, 0});
    for (const auto& [point, fromRun] : rows) {
      const PointRecord& p = *point;
      appendf(out, "<tr><td>%d</td>", p.number);
      out += "<td>" + decimal(p.U, 2) + "</td><td>" + currentText(p.I, ',') + "</td><td>" + decimal(p.PF, 2) +
             "</td>";
      out += "<td>" + (p.load.empty() ? std::string("-") : html(p.load)) + "</td><td>" + html(p.phases) + "</td>";
      out += "<td>" + (p.averageFresh ? fixed3(p.average, ',') : "нет") + "</td>";
      for (int n = 0; n < 3; ++n) out += "<td>" + (p.channelFresh[n] ? fixed3(p.channel[n], ',') : "нет") + "</td>";
      // The widest spread of the three channels (the CSV has each).
      double spread = -1;
      for (int n = 0; n < 3; ++n)
        if (p.spreadKnown[n]) spread = std::max(spread, p.spread[n]);
      out += "<td>" + (spread >= 0 ? fixed3(spread, ',') : "-") + "</td>";
      out += "<td>" + (p.limit.empty() ? "-" : html(limitShown(p.limit))) + "</td>";
      out += "<td>" + (p.limit.empty() || p.limitSource.empty() ? std::string("-")
                                                               : "[" + std::to_string(sourceNumber(p.limitSource)) + "]") +
             "</td>";
      out += "<td>" + (p.pulses >= 0 ? decimal(std::floor(p.pulses), 0) : "-") + "</td>";
      std::string measured = localText(p.measured);
      out += "<td>" + html(measured.size() > 11 ? measured.substr(11) : measured) + "</td>";
      std::string state = stateText(p.state);
      if ((p.state == PointState::NotMeasured || p.state == PointState::NotJudged) && !p.reason.empty())
        state += " (" + p.reason + ")";
      if (!p.warning.empty()) state += (state.empty() ? "" : "; ") + p.warning;
      if (fromRun > 0) state += (state.empty() ? "" : " ") + std::string("(прот. № ") + std::to_string(fromRun) + ")";
      if (state.empty()) out += "<td>-</td></tr>\n";
      else out += std::string("<td class=\"") + stateClass(p.state) + "\">" + html(state) + "</td></tr>\n";
    }
    if (anyPoint) out += "</tbody>\n</table>\n";
    if (!sources.empty()) {
      out += "<p class=\"sources\">Допуски:";
      for (size_t k = 0; k < sources.size(); ++k)
        out += std::string(k == 0 ? " " : "; ") + "[" + std::to_string(k + 1) + "] " + html(sources[k]);
      out += ".</p>\n";
    }
    if (!anyPoint) {
      out += "<p>Нет измеренных точек.</p>\n";
    } else {
      std::vector<PointRecord> drawn;
      for (const auto& [point, fromRun] : rows) drawn.push_back(*point);
      out += errorChartSvg(drawn, i.meterBase, i.meterTransformer);
    }
    out += std::string("<p class=\"sources\">") + metrology::kDecisionRuleText + "</p>\n";
    if (r.incomplete()) {
      appendf(out,
              "<p class=\"notmeasured\">Запись неполная: на стенде показано точек %d, в записи %d. "
              "Заключение не выносится.</p>\n",
              r.shown, r.recorded);
    } else if (incomplete) {
      out += "<p class=\"notmeasured\">Запись повторяемого прогона неполная: заключение не выносится.</p>\n";
    } else if (verdict.empty()) {
      if (r.end == RunEnd::Finished) out += "<p>Допуск в программе не задан: заключение не выносится.</p>\n";
      else out += "<p>Поверка не завершена: заключение не выносится.</p>\n";
    } else if (!fault.empty()) {
      // What the points say stands on nothing: no conclusion either way.
      out += "<p class=\"failed\">Заключение не выносится: " + html(fault) + ".</p>\n";
    } else {
      out += std::string("<p class=\"") + stateClass(stateOfWord(verdict)) + "\">Заключение: " +
             metrology::verdictShown(verdict, withoutLimit) + ".</p>\n";
    }
    out += "<p>Поверитель: ____________________ " + html(given(i.operatorName, "")) + "</p>\n</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& stationFile) {
  std::string serial, since, csv, htmlFile, copy, htmlDir, svgDir, path = kDatabaseName;
  bool serialGiven = false;
  int last = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return platform::writeText(out, kUsage) ? 0 : 1;
    bool takesValue = a == "--serial" || a == "--since" || a == "--csv" || a == "--html" || a == "--db" ||
                      a == "--last" || a == "--copy" || a == "--html-dir" || a == "--svg";
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
    } else if (a == "--html-dir") {
      htmlDir = v;
    } else if (a == "--svg") {
      svgDir = v;
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
  bool files = !csv.empty() || !htmlFile.empty() || !htmlDir.empty() || !svgDir.empty();
  if (last < 0) last = files ? 0 : 50;

  std::string error;
  std::unique_ptr<ResultsDb> db = ResultsDb::open(path, ResultsDb::Access::Read, &error);
  if (db == nullptr) {
    // Where it looked, in full, and how to look elsewhere; SQLite's own
    // words only as the detail.
    std::string where = fullPathText(path);
    std::filesystem::path file;
    std::error_code ec;
    if (pathOfName(path, &file) && !std::filesystem::exists(file, ec)) {
      say(err,
          "qs report: нет базы результатов %s.\n"
          "Она пишется в папке, где qs поверяет счётчики (рядом с QS_ADD):\n"
          "запустите qs report там или укажите файл: qs report --db ПУТЬ\n",
          where.c_str());
    } else {
      say(err, "qs report: база результатов %s не читается (%s).\nУкажите другой файл: qs report --db ПУТЬ\n",
          where.c_str(), error.c_str());
    }
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
    if (!files) return status;
  }
  std::vector<RunRow> runs;
  if (!db->runs(serial, since, last, &runs, &error)) {
    say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::vector<ReportRun> full;
  full.reserve(runs.size());
  bool lostFound = false;
  std::string station = platform::stationIdentity(stationFile, false), workstation = platform::workstationName();
  for (RunRow& r : runs) {
    bool gone = writerGone(r, station, workstation);
    ReportRun rr{r, {}};
    if ((gone || files) && !db->pointsOf(r.id, &rr.points, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    if (files && !loadAttempts(*db, &rr, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    if (gone) {
      // Its writer is gone: lost, with the verdict its recorded points give.
      std::vector<PointState> states;
      bool anyLimit = false;
      for (const PointRecord& p : rr.points) {
        states.push_back(p.state);
        anyLimit = anyLimit || limitSought(p);
      }
      r.end = rr.run.end = RunEnd::Lost;
      r.verdict = rr.run.verdict = lostVerdict(states, anyLimit);
      lostFound = true;
    }
    if (files) full.push_back(std::move(rr));
  }
  // (Only shown so: the bench that next starts on this computer marks it
  // in the file. The report reads and never writes.)
  (void)lostFound;
  if (!files) return platform::writeText(out, runsListing(runs)) ? status : 1;
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
  // One file per run, for filing: named by protocol number and serial.
  auto perRun = [&](const std::string& dir, const char* prefix, const char* ext, auto make) {
    if (dir.empty()) return;
    std::filesystem::path folder;
    std::error_code ec;
    if (!pathOfName(dir, &folder) || (std::filesystem::create_directories(folder, ec), ec)) {
      say(err, "qs report: папка %s не создана.\n", dir.c_str());
      status = 1;
      return;
    }
    int written = 0;
    for (const ReportRun& rr : full) {
      std::string serialPart;
      for (char c : rr.run.info.serial)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') serialPart += c;
      std::string name = dir + "/" + prefix + std::to_string(rr.run.id) + (serialPart.empty() ? "" : "-" + serialPart) + ext;
      std::string bytes = make(rr);
      if (bytes.empty()) continue;  // (a run with nothing to draw has no chart)
      if (writeWholeFile(name, bytes) != WriteResult::kWritten) {
        say(err, "qs report: файл %s не записан.\n", name.c_str());
        status = 1;
        return;
      }
      ++written;
    }
    if (!say(out, "%s: %d файл(ов) записано.\n", dir.c_str(), written)) status = 1;
  };
  perRun(htmlDir, "protocol-", ".html", [](const ReportRun& rr) { return protocolHtml({rr}); });
  perRun(svgDir, "chart-", ".svg", [](const ReportRun& rr) {
    std::string svg = errorChartSvg(rr.points, rr.run.info.meterBase, rr.run.info.meterTransformer);
    return svg.empty() ? svg : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg;
  });
  return status;
}

}  // namespace qs::records
