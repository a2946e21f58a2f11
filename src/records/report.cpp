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
#include <map>
#include <set>
#include <system_error>

#include "console/codepage.h"
#include "console/text_file.h"
#include "console/whole_file.h"
#include "platform/process.h"
#include "platform/station_identity.h"
#include "metrology/validity.h"
#include "records/chart.h"
#include "records/registry.h"
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

}  // namespace

std::string markupText(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default:
        // (Control characters other than TAB and line ends are no text of
        // a document.)
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
  return out;
}

std::string endTextOf(const RunRow& r) {
  std::string t = endText(r.end);
  return r.endReason.empty() ? t : t + " (" + r.endReason + ")";
}

std::string protocolNumber(const RunRow& r) {
  if (r.info.standCode.empty() && r.numberMark.empty()) return std::to_string(r.id);
  std::string out = r.info.standCode;
  if (!r.numberMark.empty()) out += (out.empty() ? "" : "-") + r.numberMark;
  appendf(out, "-%06lld", static_cast<long long>(r.id));
  return out;
}

namespace {

// The run's verdict as words: none where the record is short of what the
// bench showed.
std::string verdictText(const RunRow& r) {
  if (r.incomplete()) return kIncompleteText;
  return r.verdict.empty() ? "-" : metrology::verdictShown(r.verdict, r.withoutLimit);
}

// The verdict the record supports, as stored words.
std::string verdictWord(const RunRow& r) { return metrology::supportedVerdict(r.verdict, r.withoutLimit); }

std::string csvQuoted(const std::string& s) {
  if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
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
    "qs report - записи поверок из results.db рабочей папки\n"
    "\n"
    "Вызов: qs report [--serial N] [--since ГГГГ-ММ-ДД] [--last N] [--csv ФАЙЛ] [--html ФАЙЛ]\n"
    "                 [--html-dir ПАПКА] [--svg ПАПКА] [--registry ФАЙЛ.xml] [--copy ФАЙЛ] [--db ПУТЬ]...\n"
    "  (без параметров)   последние 50 прогонов, по строке на прогон, новые первыми\n"
    "  --serial N         прогоны счётчика с серийным номером N (как в заголовке, например 00A001)\n"
    "  --since ДАТА       прогоны, начатые в этот день или позже (по часам стенда)\n"
    "  --last N           не больше N прогонов (0 - все; по умолчанию 50, с файлами - все)\n"
    "  --csv ФАЙЛ         точки выбранных прогонов для электронной таблицы: UTF-8 с BOM, поля через ';',\n"
    "                     десятичная запятая\n"
    "  --html ФАЙЛ        протоколы выбранных прогонов для печати на A4, по возрастанию номеров\n"
    "  --html-dir ПАПКА   протокол каждого прогона отдельным файлом (protocol-N-НОМЕР.html)\n"
    "  --svg ПАПКА        график погрешностей каждого прогона (chart-N-НОМЕР.svg)\n"
    "  --registry ФАЙЛ    файл выгрузки во ФГИС «Аршин»: запись на каждый поверенный счётчик\n"
    "                     (не больше 5000 записей в файле; дальше ФАЙЛ-2.xml, ФАЙЛ-3.xml, ...)\n"
    "  --copy ФАЙЛ        согласованная копия всей базы в новый файл, для отчёта в офисе\n"
    "  --db ПУТЬ          другая база (открывается только для чтения); можно несколько раз,\n"
    "                     папка - все базы в ней: отчёт по нескольким стендам лаборатории\n"
    "Код возврата 0, или 1 с сообщением (нет базы, база повреждена, файл не записан, параметр неверен).\n";

// "1 прогон", "2 прогона", "5 прогонов", "21 прогон": a count with its
// noun as Russian says it.
std::string countText(long long n, const char* one, const char* few, const char* many) {
  long long tens = n % 100, units = n % 10;
  const char* noun = tens >= 11 && tens <= 14 ? many : units == 1 ? one : units >= 2 && units <= 4 ? few : many;
  return std::to_string(n) + " " + noun;
}

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
  // 99 columns: a line of a 100-column console, never wrapped. Protocol
  // numbers of a laboratory of several stands ("С2-000123") take room from
  // the programme's title.
  size_t numberWidth = 4;
  for (const RunRow& r : runs) numberWidth = std::max(numberWidth, characterCount(protocolNumber(r)));
  numberWidth = std::min<size_t>(numberWidth, 14);
  size_t titleWidth = 17 - (numberWidth - 4);
  std::string out = std::string(numberWidth - 1, ' ') + "N Начало           Конец       Стенд Номер    " +
                    padded("Программа", titleWidth) + " Окончание Итог            Точек\n";
  for (const RunRow& r : runs) {
    std::string start = whenText(r.info.started);
    std::string number = protocolNumber(r);
    // (Right-aligned, as numbers are.)
    out += characterCount(number) > numberWidth ? column(number, numberWidth)
                                                : std::string(numberWidth - characterCount(number), ' ') + number;
    appendf(out, " %s %s %5d %s %s %s %s %5d\n", column(start.substr(0, 16), 16).c_str(),
            column(endShown(r.info.started, r.ended), 11).c_str(), r.info.bench,
            column(r.info.serial.empty() ? "-" : r.info.serial, 8).c_str(),
            column(programmeText(r.info), titleWidth).c_str(), column(endText(r.end), 9).c_str(),
            column(verdictText(r), 15).c_str(), r.recorded);
    // What is longer than its column is said whole on a line of its own.
    if (!r.endReason.empty()) out += "     Окончание: " + endTextOf(r) + "\n";
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
      "Название программы;Поверитель;Температура, °C;Влажность, %;Давление, кПа;Владелец;Вид поверки;"
      "Номер в госреестре;Модификация;Протокол\r\n";
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
    // The columns after the programme's title: who verified, in what
    // conditions, for whom, and the protocol's number.
    std::string tail = csvText(r.info.operatorName) + ";";
    for (double v : {r.info.temperature, r.info.humidity, r.info.pressure})
      tail += (r.info.conditionsKnown ? conditionShown(v) : std::string()) + ";";
    tail += csvText(r.info.owner) + ";" + (r.info.verificationKind == 1 ? "первичная" : "периодическая") + ";" +
            csvIdentifier(r.info.registerNumber) + ";" + csvText(r.info.modification) + ";" +
            csvIdentifier(protocolNumber(r)) + "\r\n";
    appendf(head, "%d;", r.info.programmeId);
    head += csvText(r.info.programmeFile) + ";" + endTextOf(r) + ";" +
            (r.incomplete() ? kIncompleteText : r.verdict.empty() ? "" : verdictText(r)) + ";";
    for (const PointRecord& p : rr.points) {
      out += head;
      appendf(out, "%d;%d;", p.seq, p.number);
      out += decimalFixed(p.U, 2) + ";" + currentText(p.I, ',') + ";" + decimalFixed(p.PF, 2) + ";" + csvText(p.load) + ";" +
             csvText(p.phases) + ";";
      out += (p.averageFresh ? fixed3(p.average, ',') : "") + ";";
      for (int n = 0; n < 3; ++n) out += (p.channelFresh[n] ? fixed3(p.channel[n], ',') : "") + ";";
      out += csvText(localText(p.measured)) + ";" + decimalFixed(p.durationMs / 1000.0, 1) + ";";
      out += csvText(limitShown(p.limit)) + ";" + csvText(p.limitSource) + ";";
      out += std::string(stateText(p.state)) + ";" + csvText(p.reason) + ";";
      for (int n = 0; n < 3; ++n) out += (p.spreadKnown[n] ? fixed3(p.spread[n], ',') : "") + ";";
      appendf(out, "%d;", static_cast<int>(p.readings.size()));
      out += decimalFixed(p.settlingMs / 1000.0, 1) + ";" + (p.pulses >= 0 ? decimalFixed(std::floor(p.pulses), 0) : "") + ";" +
             csvText(p.warning) + ";" + csvText(r.info.meterType) + ";" + csvText(r.info.meterClass) + ";" +
             (r.info.retestOf > 0 ? std::to_string(r.info.retestOf) : "") + ";" + csvText(r.info.measure) + ";" +
             csvText(r.info.programmeTitle) + ";" + tail;
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
  if (bounds.empty()) return std::string(name) + " " + markupText(value);
  if (!outside) return std::string(name) + " " + markupText(value) + " (" + markupText(bounds) + ")";
  return std::string(name) + " <span class=\"failed\">" + markupText(value) + "</span> — вне границ методики " + markupText(bounds);
}




}  // namespace

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

std::string verificationFaultOf(const ReportRun& rr) {
  const RunInfo& i = rr.run.info;
  std::string fault = metrology::verificationFault(localText(i.started).substr(0, 10), i.referenceDue, conditionsOf(i));
  // A re-test stands on the runs it completes as well.
  for (const ReportRun::Earlier& e : rr.earlier) {
    if (!fault.empty()) break;
    std::string date = localText(e.run.info.started).substr(0, 10);
    fault = metrology::verificationFault(date, e.run.info.referenceDue, conditionsOf(e.run.info));
    if (!fault.empty()) fault = "протокол № " + protocolNumber(e.run) + ": " + fault;
  }
  return fault;
}

int withoutLimitOf(const ReportRun& rr) {
  int n = rr.run.withoutLimit;
  for (const ReportRun::Earlier& e : rr.earlier)
    for (const PointRecord& p : e.points) n += limitSought(p) ? 0 : 1;
  return n;
}

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

std::string protocolHtml(const std::vector<ReportRun>& runs, const std::string& issued) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>Протоколы поверки</title>\n"
      "<style>\n"
      "@page { size: A4 portrait; margin: 1.5cm;\n"
      "  @bottom-right { content: \"Лист \" counter(page) \" из \" counter(pages); font: 8pt sans-serif; } }\n"
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
      "table.points td, table.points th { white-space: nowrap; }\n"
      "table.points td.state { white-space: normal; text-align: left; }\n"
      "table.points thead tr.head th { background: none; border: none; text-align: left; font-weight: normal; }\n"
      ".nw { white-space: nowrap; }\n"
      "tr { break-inside: avoid; }\n"
      "svg.chart { width: 100%; height: auto; break-inside: avoid; }\n"
      "p { margin: 3pt 0; }\n"
      ".sources { font-size: 8pt; }\n"
      ".signature { margin-top: 10pt; break-inside: avoid; }\n"
      ".passed { color: #060; } .failed { color: #a00; font-weight: bold; } .notmeasured { color: #a60; }\n"
      "</style>\n</head>\n<body>\n";
  if (runs.empty()) out += "<p>Нет записей.</p>\n";
  // One value that must not break across lines (a date, a time, a verdict).
  auto whole = [](const std::string& text) { return "<span class=\"nw\">" + markupText(text) + "</span>"; };
  for (const ReportRun& rr : runs) {
    const RunRow& r = rr.run;
    const RunInfo& i = r.info;
    auto stateClass = [](PointState s) {
      return s == PointState::Passed ? "passed" : s == PointState::Failed ? "failed" : "notmeasured";
    };
    std::string serial = i.serial.empty() ? "не считан" : i.serial;
    out += "<section>\n<h1>Протокол поверки № " + markupText(protocolNumber(r));
    if (i.retestOf > 0) appendf(out, " (повторно, к протоколу № %lld)", static_cast<long long>(i.retestOf));
    for (size_t k = 0; k < rr.repeatedBy.size(); ++k)
      appendf(out, "%s%lld%s", k == 0 ? " (повторено: протокол № " : ", ", static_cast<long long>(rr.repeatedBy[k]),
              k + 1 == rr.repeatedBy.size() ? ")" : "");
    out += "</h1>\n<table class=\"meter\">\n";
    // The fields of the head, as HTML; laid out two to a row where both are
    // short, a long one (or one without a short partner) across the row, so
    // that no cell stands empty.
    struct Field {
      std::string name, value;
      const char* cls = nullptr;
    };
    std::vector<Field> fields;
    auto field = [&](const char* name, const std::string& valueHtml, const char* cls = nullptr) {
      fields.push_back(Field{name, valueHtml, cls});
    };
    auto text = [&](const char* name, const std::string& v, const char* cls = nullptr) { field(name, markupText(v), cls); };
    auto moment = [&](const Stamp& s) {
      return s.known() ? whole(whenText(s)) + " " + whole("(" + offsetText(s) + ")") : std::string("-");
    };
    text("Лаборатория", given(i.labName) + (i.labAddress.empty() ? "" : ", " + i.labAddress));
    text("Аттестат аккредитации", given(i.labAccreditation));
    text("Методика поверки", given(i.labMethod));
    text("Вид поверки", i.verificationKind == 1 ? "первичная" : "периодическая");
    if (!i.owner.empty()) text("Владелец", i.owner);
    text("Серийный номер", serial);
    if (!i.meterType.empty()) {
      text("Тип счётчика", i.meterType);
      if (!i.registerNumber.empty()) text("Номер в госреестре", i.registerNumber);
      if (!i.registerNumber.empty()) text("Модификация", i.modification.empty() ? "Нет модификации" : i.modification);
      text("Класс точности", i.meterClass);
      if (!i.typeNote.empty()) text("Каталог типов", i.typeNote);
    } else {
      // What the record says of why no type, as one sentence.
      std::string why = i.typeNote;
      const std::string prefix = "Тип счётчика ";
      if (why.rfind(prefix, 0) == 0) why = why.substr(prefix.size());
      text("Тип счётчика", why.empty() ? std::string("не определён") : "не определён: " + why);
    }
    char address[16];
    std::snprintf(address, sizeof address, "%02Xh", i.address & 0xFF);
    text("Прибор", i.deviceType + ", версия " + i.version + ", модемный номер " + address);
    text("Программа", programmeText(i) + (i.programmeFile.empty() ? "" : " (" + i.programmeFile + ")"));
    text("Измерение точки", measureShown(i.measure));
    // The reference as the run was made with it, judged on the run's date.
    std::string started = localText(i.started).substr(0, 10);
    bool expired = metrology::referenceExpired(i.referenceDue, started);
    std::string fault = verificationFaultOf(rr);
    bool incomplete = false;
    std::string verdict = meterVerdict(rr, &incomplete);
    int withoutLimit = withoutLimitOf(rr);
    if (i.referenceModel.empty()) {
      text("Эталон", "не указан");
    } else {
      field("Эталон",
            markupText(i.referenceModel + (i.referenceSerial.empty() ? "" : " № " + i.referenceSerial)) + ", поверен до " +
                whole(i.referenceDue) + (expired ? " — срок поверки истёк до поверки" : "") +
                (i.referenceFund.empty() ? "" : ", " + whole("ФИФ " + i.referenceFund)),
            expired ? "failed" : nullptr);
    }
    if (!i.conditionsKnown) text("Условия", "не введены");
    else
      field("Условия", conditionText("температура", i.temperature, "°C", i.temperatureBounds) + "; " +
                           conditionText("влажность", i.humidity, "%", i.humidityBounds) + "; " +
                           conditionText("давление", i.pressure, "кПа", i.pressureBounds));
    text("Рабочее место", i.workstation + (i.bench > 0 ? ", стенд " + std::to_string(i.bench) : ""));
    field("Начало", moment(i.started));
    field("Конец", moment(r.ended));
    text("Окончание", endTextOf(r));
    text("Программное обеспечение", given(i.software, "не записано"));
    field("Дата выдачи", issued.empty() ? std::string("-") : whole(issued));
    std::string until = verdict == stateWord(PointState::Passed) && !incomplete && fault.empty()
                            ? metrology::validUntil(started, i.meterInterval)
                            : "";
    if (!until.empty()) field("Действительно до", whole(until));
    auto shown = [](const std::string& h) {  // the characters a field shows
      std::string plain;
      bool tag = false;
      for (char c : h) {
        if (c == '<') tag = true;
        else if (c == '>') tag = false;
        else if (!tag) plain += c;
      }
      return characterCount(plain);
    };
    auto cell = [](const Field& f, bool across) {
      return "<th>" + f.name + "</th><td" + (f.cls != nullptr ? std::string(" class=\"") + f.cls + "\"" : "") +
             (across ? " colspan=\"3\"" : "") + ">" + f.value + "</td>";
    };
    for (size_t k = 0; k < fields.size(); ++k) {
      bool pair = k + 1 < fields.size() && shown(fields[k].value) <= 42 && shown(fields[k + 1].value) <= 42;
      if (pair) {
        out += "<tr>" + cell(fields[k], false) + cell(fields[k + 1], false) + "</tr>\n";
        ++k;
      } else {
        out += "<tr>" + cell(fields[k], true) + "</tr>\n";
      }
    }
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
      out += "<table class=\"points\">\n<thead><tr class=\"head\"><th colspan=\"16\">Протокол № " +
             markupText(protocolNumber(r)) + ", счётчик № " + markupText(serial) +
             "</th></tr>\n<tr><th>N</th><th>U, В</th><th>I, А</th><th>PF</th><th>Нагр.</th><th>Фазы</th><th>P, Вт</th>"
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
      out += "<td>" + decimalFixed(p.U, 2) + "</td><td>" + currentText(p.I, ',') + "</td><td>" + decimalFixed(p.PF, 2) +
             "</td>";
      out += "<td>" + (p.load.empty() ? std::string("-") : markupText(p.load)) + "</td><td>" + markupText(p.phases) + "</td>";
      out += "<td>" + (p.averageFresh ? fixed3(p.average, ',') : "нет") + "</td>";
      for (int n = 0; n < 3; ++n) out += "<td>" + (p.channelFresh[n] ? fixed3(p.channel[n], ',') : "нет") + "</td>";
      // The widest spread of the three channels (the CSV has each).
      double spread = -1;
      for (int n = 0; n < 3; ++n)
        if (p.spreadKnown[n]) spread = std::max(spread, p.spread[n]);
      out += "<td>" + (spread >= 0 ? fixed3(spread, ',') : "-") + "</td>";
      out += "<td>" + (p.limit.empty() ? "-" : markupText(limitShown(p.limit))) + "</td>";
      out += "<td>" + (p.limit.empty() || p.limitSource.empty() ? std::string("-")
                                                               : "[" + std::to_string(sourceNumber(p.limitSource)) + "]") +
             "</td>";
      out += "<td>" + (p.pulses >= 0 ? decimalFixed(std::floor(p.pulses), 0) : "-") + "</td>";
      std::string measured = localText(p.measured);
      out += "<td>" + markupText(measured.size() > 11 ? measured.substr(11) : measured) + "</td>";
      // The state whole, then why (which may wrap between its words).
      std::string state = stateText(p.state), more;
      if ((p.state == PointState::NotMeasured || p.state == PointState::NotJudged) && !p.reason.empty())
        more = "(" + p.reason + ")";
      if (!p.warning.empty()) more += (more.empty() ? "" : "; ") + p.warning;
      if (fromRun > 0) more += (more.empty() ? "" : " ") + std::string("(прот. № ") + std::to_string(fromRun) + ")";
      std::string cellHtml = (state.empty() ? std::string("-") : whole(state)) + (more.empty() ? "" : " " + markupText(more));
      out += std::string("<td class=\"state") + (state.empty() ? "" : std::string(" ") + stateClass(p.state)) + "\">" +
             cellHtml + "</td></tr>\n";
    }
    if (anyPoint) out += "</tbody>\n</table>\n";
    if (!sources.empty()) {
      out += "<p class=\"sources\">Допуски:";
      for (size_t k = 0; k < sources.size(); ++k)
        out += std::string(k == 0 ? " " : "; ") + "[" + std::to_string(k + 1) + "] " + markupText(sources[k]);
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
      out += "<p class=\"failed\">Заключение не выносится: " + markupText(fault) + ".</p>\n";
    } else {
      out += std::string("<p class=\"") + stateClass(stateOfWord(verdict)) + "\">Заключение: " +
             whole(metrology::verdictShown(verdict, withoutLimit)) + ".</p>\n";
    }
    out += "<div class=\"signature\">\n<p>Поверитель: ____________________ " + markupText(given(i.operatorName, "")) +
           "</p>\n<p>Протокол утвердил: ____________________ (должность, подпись, Ф. И. О.)</p>\n</div>\n</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

namespace {

// A database of a report and the runs it gave.
struct Source {
  std::string path;
  std::unique_ptr<ResultsDb> db;
  int64_t modified = 0;  // when the file was last written (its copy's age)
};

// The databases `--db` names: a file, or every results database in a
// folder (the office's copies, one per stand).
std::vector<std::string> databaseFiles(const std::vector<std::string>& named) {
  std::vector<std::string> out;
  for (const std::string& n : named) {
    std::filesystem::path p;
    std::error_code ec;
    if (!pathOfName(n, &p) || !std::filesystem::is_directory(p, ec)) {
      out.push_back(n);
      continue;
    }
    std::vector<std::string> inFolder;
    for (const auto& entry : std::filesystem::directory_iterator(p, ec)) {
      if (!entry.is_regular_file(ec)) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      char head[16] = {};
      in.read(head, sizeof head);
      if (in.gcount() != 16 || std::memcmp(head, "SQLite format 3", 16) != 0) continue;
      std::u8string name = entry.path().u8string();
      inFolder.emplace_back(name.begin(), name.end());
    }
    std::sort(inFolder.begin(), inFolder.end());
    out.insert(out.end(), inFolder.begin(), inFolder.end());
  }
  return out;
}

int64_t modifiedOf(const std::string& name) {
  std::filesystem::path p;
  std::error_code ec;
  if (!pathOfName(name, &p)) return 0;
  auto t = std::filesystem::last_write_time(p, ec);
  return ec ? 0 : static_cast<int64_t>(t.time_since_epoch().count());
}

// How far a run had got in a copy: a run that ended is further than one
// that goes on; then the more points recorded.
int advance(const RunRow& r) { return (r.end == RunEnd::Open ? 0 : 1) * 1000000 + r.recorded; }

// A run's name across stands: its computer's identity (its name in the
// first layout, which had none) and its id.
std::pair<std::string, int64_t> runKey(const RunRow& r) {
  return {r.info.station.empty() ? "name:" + r.info.workstation : r.info.station, r.id};
}

}  // namespace

int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& stationFile) {
  std::string serial, since, csv, htmlFile, copy, htmlDir, svgDir, registry;
  std::vector<std::string> dbNamed;
  bool serialGiven = false;
  int last = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return platform::writeText(out, kUsage) ? 0 : 1;
    bool takesValue = a == "--serial" || a == "--since" || a == "--csv" || a == "--html" || a == "--db" ||
                      a == "--last" || a == "--copy" || a == "--html-dir" || a == "--svg" || a == "--registry";
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
    } else if (a == "--registry") {
      registry = v;
    } else if (a == "--db") {
      dbNamed.push_back(v);
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
  bool several = dbNamed.size() > 1;
  if (dbNamed.empty()) dbNamed.push_back(kDatabaseName);
  std::vector<std::string> paths = databaseFiles(dbNamed);
  for (const std::string& n : dbNamed) {
    std::filesystem::path p;
    std::error_code ec;
    several = several || (pathOfName(n, &p) && std::filesystem::is_directory(p, ec));
  }
  if (several && !copy.empty()) {
    say(err, "qs report: --copy копирует одну базу; назовите её одним --db\n");
    return 1;
  }
  if (several && paths.empty()) {
    say(err, "qs report: в %s нет баз результатов\n", dbNamed.front().c_str());
    return 1;
  }
  // No output takes the place of a database, and no two outputs share a file.
  for (const std::string& db : paths) {
    for (const std::string* name : {&csv, &htmlFile}) {
      if (!name->empty() && refusedOutput(*name, db)) {
        say(err, "qs report: %s - это база данных; отчёт в неё не пишется\n", name->c_str());
        return 1;
      }
    }
    for (size_t n = 1; !registry.empty() && n <= 9; ++n) {
      if (refusedOutput(registryFileName(registry, n), db)) {
        say(err, "qs report: %s - это база данных; выгрузка в неё не пишется\n", registryFileName(registry, n).c_str());
        return 1;
      }
    }
    if (!copy.empty() && refusedOutput(copy, db)) {
      say(err, "qs report: %s - база данных; копия пишется только в новый файл\n", copy.c_str());
      return 1;
    }
  }
  std::vector<const std::string*> outputs;
  for (const std::string* name : {&csv, &htmlFile, &copy, &registry})
    if (!name->empty()) outputs.push_back(name);
  for (size_t a = 0; a < outputs.size(); ++a)
    for (size_t b = a + 1; b < outputs.size(); ++b)
      if (sameName(*outputs[a], *outputs[b])) {
        say(err, "qs report: один файл %s назван для двух отчётов\n", outputs[a]->c_str());
        return 1;
      }
  bool files = !csv.empty() || !htmlFile.empty() || !htmlDir.empty() || !svgDir.empty() || !registry.empty();
  if (last < 0) last = files ? 0 : 50;

  int status = 0;
  std::string error;
  std::vector<Source> sources;
  for (const std::string& path : paths) {
    Source src{path, ResultsDb::open(path, ResultsDb::Access::Read, &error), modifiedOf(path)};
    if (src.db != nullptr) {
      sources.push_back(std::move(src));
      continue;
    }
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
    // Of several, the others are still reported; the status says one was not.
    if (!several) return 1;
    status = 1;
  }
  if (sources.empty()) return 1;
  if (!copy.empty()) {
    if (copyDatabase(*sources.front().db, copy, &error)) {
      if (!say(out, "%s: копия базы результатов записана.\n", copy.c_str())) status = 1;
    } else {
      say(err, "qs report: копия %s не записана: %s\n", copy.c_str(), error.c_str());
      return 1;
    }
    if (!files) return status;
  }
  // The runs of every database, a run found in two copies of one stand once
  // (from the copy where it got furthest; the newer copy when equal), the
  // latest `last` of them by start.
  struct Found {
    RunRow run;
    size_t source;
  };
  std::map<std::pair<std::string, int64_t>, Found> byKey;
  for (size_t k = 0; k < sources.size(); ++k) {
    std::vector<RunRow> rows;
    if (!sources[k].db->runs(serial, since, several ? 0 : last, &rows, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", sources[k].path.c_str(), error.c_str());
      if (!several) return 1;
      status = 1;
      continue;
    }
    for (RunRow& r : rows) {
      auto key = runKey(r);
      auto it = byKey.find(key);
      if (it != byKey.end()) {
        const Found& had = it->second;
        bool further = advance(r) > advance(had.run) ||
                       (advance(r) == advance(had.run) && sources[k].modified > sources[had.source].modified);
        if (!further) continue;
      }
      byKey[key] = Found{std::move(r), k};
    }
  }
  std::vector<Found> found;
  for (auto& [key, f] : byKey) found.push_back(std::move(f));
  // Newest first: by start, then by number.
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.run.info.started.utc != b.run.info.started.utc) return a.run.info.started.utc > b.run.info.started.utc;
    return a.run.id > b.run.id;
  });
  if (last > 0 && found.size() > static_cast<size_t>(last)) found.resize(static_cast<size_t>(last));
  // Stands that share a code (or runs without one among runs with codes):
  // said once, and their protocol numbers carry the computer's mark.
  std::map<std::string, std::set<std::string>> stationsOfCode;
  for (const Found& f : found) stationsOfCode[f.run.info.standCode].insert(runKey(f.run).first);
  bool anyCode = stationsOfCode.size() > 1 || (stationsOfCode.size() == 1 && !stationsOfCode.begin()->first.empty());
  std::set<std::string> clashing;
  for (const auto& [code, stations] : stationsOfCode) {
    if (stations.size() < 2 && !(code.empty() && anyCode)) continue;
    clashing.insert(code);
    std::string marks;
    for (const std::string& st : stations) marks += (marks.empty() ? "" : ", ") + st.substr(0, 4);
    if (code.empty()) say(out, "стенды без кода среди стендов с кодами: %s\n", marks.c_str());
    else say(out, "стенды с одним кодом %s: %s\n", code.c_str(), marks.c_str());
  }
  for (Found& f : found)
    if (clashing.count(f.run.info.standCode) > 0) f.run.numberMark = runKey(f.run).first.substr(0, 4);

  std::vector<ReportRun> full;
  std::vector<RunRow> runs;
  std::string station = platform::stationIdentity(stationFile, false), workstation = platform::workstationName();
  for (Found& f : found) {
    Source& src = sources[f.source];
    RunRow& r = f.run;
    bool gone = writerGone(r, station, workstation);
    ReportRun rr{r, {}};
    if ((gone || files) && !src.db->pointsOf(r.id, &rr.points, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", src.path.c_str(), error.c_str());
      return 1;
    }
    if (files && !loadAttempts(*src.db, &rr, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", src.path.c_str(), error.c_str());
      return 1;
    }
    if (gone) {
      // Its writer is gone: shown lost, with the verdict its recorded points
      // give (the bench that next starts on this computer marks it in the
      // file; the report reads and never writes).
      std::vector<PointState> states;
      bool anyLimit = false;
      for (const PointRecord& p : rr.points) {
        states.push_back(p.state);
        anyLimit = anyLimit || limitSought(p);
      }
      r.end = rr.run.end = RunEnd::Lost;
      r.verdict = rr.run.verdict = lostVerdict(states, anyLimit);
    }
    // The marks of the runs a re-test completes, as their own.
    for (ReportRun::Earlier& e : rr.earlier)
      if (clashing.count(e.run.info.standCode) > 0) e.run.numberMark = runKey(e.run).first.substr(0, 4);
    runs.push_back(r);
    if (files) full.push_back(std::move(rr));
  }
  if (!files) return platform::writeText(out, runsListing(runs)) ? status : 1;
  auto write = [&](const std::string& name, const std::string& bytes) {
    if (name.empty()) return;
    if (writeWholeFile(name, bytes) == WriteResult::kWritten) {
      if (!say(out, "%s: %s записано.\n", name.c_str(),
               countText(static_cast<long long>(full.size()), "прогон", "прогона", "прогонов").c_str()))
        status = 1;
    } else {
      say(err, "qs report: файл %s не записан.\n", name.c_str());
      status = 1;
    }
  };
  write(csv, pointsCsv(full));
  // Protocols and the registry's records in the order the runs were made,
  // as they are filed.
  std::vector<ReportRun> ascending(full.rbegin(), full.rend());
  write(htmlFile, protocolHtml(ascending, todayText()));
  if (!registry.empty()) {
    RegistryExport exported = registryExport(ascending);
    for (const std::string& line : exported.leftOut) say(out, "%s\n", line.c_str());
    say(out, "записей: %d, не выгружено: %zu\n", exported.records, exported.leftOut.size());
    if (exported.documents.empty()) {
      say(err, "qs report: нет ни одной записи для выгрузки: файл %s не записан\n", registry.c_str());
      status = 1;
    }
    for (size_t n = 1; n <= exported.documents.size(); ++n) {
      std::string name = registryFileName(registry, n);
      std::filesystem::path temp;
      std::error_code ec;
      if (pathOfName(name + ".tmp", &temp) && std::filesystem::exists(temp, ec)) {  // somebody's file
        say(err, "qs report: %s.tmp уже есть: файл %s не записан\n", name.c_str(), name.c_str());
        status = 1;
        break;
      }
      if (refusedOutput(name, paths.front()) || writeWholeFile(name, exported.documents[n - 1]) != WriteResult::kWritten) {
        say(err, "qs report: файл %s не записан.\n", name.c_str());
        status = 1;
        break;
      }
      say(out, "%s: выгрузка во ФГИС «Аршин» записана.\n", name.c_str());
    }
  }
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
      auto filePart = [](const std::string& text) {
        std::string part;
        for (char c : text)
          if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80)
            part += c;
        return part;
      };
      std::string serialPart = filePart(rr.run.info.serial);
      std::string name = dir + "/" + prefix + filePart(protocolNumber(rr.run)) + (serialPart.empty() ? "" : "-" + serialPart) + ext;
      std::string bytes = make(rr);
      if (bytes.empty()) continue;  // (a run with nothing to draw has no chart)
      if (writeWholeFile(name, bytes) != WriteResult::kWritten) {
        say(err, "qs report: файл %s не записан.\n", name.c_str());
        status = 1;
        return;
      }
      ++written;
    }
    if (!say(out, "%s: %s записано.\n", dir.c_str(), countText(written, "файл", "файла", "файлов").c_str())) status = 1;
  };
  perRun(htmlDir, "protocol-", ".html", [](const ReportRun& rr) { return protocolHtml({rr}, todayText()); });
  perRun(svgDir, "chart-", ".svg", [](const ReportRun& rr) {
    std::string svg = errorChartSvg(rr.points, rr.run.info.meterBase, rr.run.info.meterTransformer);
    return svg.empty() ? svg : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg;
  });
  return status;
}

}  // namespace qs::records
