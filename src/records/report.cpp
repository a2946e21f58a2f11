#include "records/report.h"

#include <cstdarg>
#include <cstring>

#include "console/text_file.h"
#include "console/whole_file.h"
#include "platform/process.h"

namespace qs::records {
namespace {

const char* endText(RunEnd end) {
  switch (end) {
    case RunEnd::Finished: return "завершена";
    case RunEnd::Interrupted: return "прервана";
    case RunEnd::Lost: return "потеряна";
    default: return "идёт";
  }
}

std::string verdictText(const std::string& verdict) {
  return verdict.empty() ? "-" : stateText(stateOfWord(verdict));
}

// A number as a Russian spreadsheet reads it: a decimal comma.
std::string csvNumber(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  for (char* c = text; *c; ++c)
    if (*c == '.') *c = ',';
  return text;
}

std::string csvField(const std::string& s) {
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

std::string value(bool present, double v, int decimals) {
  if (!present) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string programmeText(const RunInfo& r) {
  std::string out = r.programmeKey;
  appendf(out, " %d", r.programmeId);
  return out;
}

const char* kUsage =
    "qs report - the verification records of results.db in the working folder\n"
    "\n"
    "Usage: qs report [--serial N] [--since YYYY-MM-DD] [--last N] [--csv FILE] [--html FILE] [--db FILE]\n"
    "  (no option)        the latest 50 runs, one line each, newest first\n"
    "  --serial N         the runs of the meter with serial number N (as the header shows it, e.g. 00A001)\n"
    "  --since DATE       the runs started on or after DATE\n"
    "  --last N           at most N runs (0: all; the default is 50, or all with --csv or --html)\n"
    "  --csv FILE         writes the points of the selected runs to FILE: UTF-8 with a BOM, ';' between\n"
    "                     fields and a decimal comma, as a spreadsheet in a Russian locale reads it\n"
    "  --html FILE        writes a printable protocol of the selected runs to FILE, one page per run\n"
    "  --db FILE          another results database\n"
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
  return true;
}

// Text for the operator: printf-formatted, written whole.
void say(std::FILE* to, const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  appendfv(text, format, args);
  va_end(args);
  platform::writeText(to, text);
}

}  // namespace

std::string runsListing(const std::vector<RunRow>& runs) {
  std::string out = "   N  Начало               Конец                Стенд Адрес Номер    Программа          Окончание  Итог         Точек\n";
  for (const RunRow& r : runs) {
    appendf(out, "%4lld  %-19s  %-19s  %5d  %02Xh  %-8s %-18s %s %s %5d\n", static_cast<long long>(r.id),
            r.info.started.c_str(), r.ended.empty() ? "-" : r.ended.c_str(), r.info.bench, r.info.address & 0xFF,
            r.info.serial.empty() ? "-" : r.info.serial.c_str(), programmeText(r.info).c_str(),
            padded(endText(r.end), 10).c_str(), padded(verdictText(r.verdict), 12).c_str(), r.points);
  }
  if (runs.empty()) out += "(нет записей)\n";
  return out;
}

std::string pointsCsv(const std::vector<ReportRun>& runs) {
  std::string out = "\xEF\xBB\xBF";
  out +=
      "Прогон;Начало;Конец;Станция;Стенд;Адрес;Серийный номер;Тип;Версия;Программа;Идентификатор;Файл программы;"
      "Окончание;Итог прогона;Место;Точка;U, В;I, А;PF;Нагрузка;Фазы;Среднее;Канал 1;Канал 2;Канал 3;"
      "Время измерения;Длительность, с;Допуск, %;Источник допуска;Итог точки;Причина\r\n";
  for (const ReportRun& rr : runs) {
    const RunRow& r = rr.run;
    std::string head;
    appendf(head, "%lld;", static_cast<long long>(r.id));
    head += csvField(r.info.started) + ";" + csvField(r.ended) + ";" + csvField(r.info.workstation) + ";";
    appendf(head, "%d;%02X;", r.info.bench, r.info.address & 0xFF);
    head += csvField(r.info.serial) + ";" + csvField(r.info.deviceType) + ";" + csvField(r.info.version) + ";" +
            csvField(r.info.programmeKey) + ";";
    appendf(head, "%d;", r.info.programmeId);
    head += csvField(r.info.programmeFile) + ";" + endText(r.end) + ";" + (r.verdict.empty() ? "" : verdictText(r.verdict)) + ";";
    for (const PointRecord& p : rr.points) {
      out += head;
      appendf(out, "%d;%d;", p.seq, p.number);
      out += csvNumber(p.U, 2) + ";" + csvNumber(p.I, 3) + ";" + csvNumber(p.PF, 2) + ";" + csvField(p.load) + ";" +
             csvField(p.phases) + ";";
      out += (p.averageFresh ? csvNumber(p.average, 3) : "") + ";";
      for (int n = 0; n < 3; ++n) out += (p.channelFresh[n] ? csvNumber(p.channel[n], 3) : "") + ";";
      out += csvField(p.measured) + ";" + csvNumber(p.durationMs / 1000.0, 1) + ";";
      out += (p.limit >= 0 ? csvNumber(p.limit, 2) : "") + ";" + csvField(p.limitSource) + ";";
      out += std::string(stateText(p.state)) + ";" + csvField(p.reason) + "\r\n";
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
    appendf(out, "<section>\n<h1>Протокол поверки № %lld</h1>\n<table class=\"meter\">\n", static_cast<long long>(r.id));
    auto row = [&](const char* name, const std::string& v) {
      out += "<tr><th>";
      out += name;
      out += "</th><td>" + html(v) + "</td></tr>\n";
    };
    row("Серийный номер", r.info.serial.empty() ? "не считан" : r.info.serial);
    row("Тип", r.info.deviceType);
    row("Версия", r.info.version);
    char address[16];
    std::snprintf(address, sizeof address, "%02Xh", r.info.address & 0xFF);
    row("Модемный номер", address);
    row("Программа", programmeText(r.info) + (r.info.programmeFile.empty() ? "" : " (" + r.info.programmeFile + ")"));
    row("Рабочее место", r.info.workstation + (r.info.bench > 0 ? ", стенд " + std::to_string(r.info.bench) : ""));
    row("Начало", r.info.started);
    row("Конец", r.ended.empty() ? "-" : r.ended);
    row("Окончание", endText(r.end));
    out += "</table>\n";
    if (!rr.points.empty()) out += "<table class=\"points\">\n<tr><th>N</th><th>U, В</th><th>I, А</th><th>PF</th><th>Фазы</th>"
           "<th>Среднее</th><th>Канал 1</th><th>Канал 2</th><th>Канал 3</th><th>Допуск, %</th>"
           "<th>Источник допуска</th><th>Время</th><th>Длит., с</th><th>Итог</th></tr>\n";
    for (const PointRecord& p : rr.points) {
      appendf(out, "<tr><td>%d</td><td>%.2f</td><td>%.3f</td><td>%.2f</td>", p.number, p.U, p.I, p.PF);
      out += "<td>" + html(p.phases + (p.load.empty() ? "" : " " + p.load)) + "</td>";
      out += "<td>" + (p.averageFresh ? value(true, p.average, 3) : "нет") + "</td>";
      for (int n = 0; n < 3; ++n) out += "<td>" + (p.channelFresh[n] ? value(true, p.channel[n], 3) : "нет") + "</td>";
      out += "<td>" + (p.limit >= 0 ? value(true, p.limit, 2) : "-") + "</td>";
      out += "<td>" + (p.limitSource.empty() ? "-" : html(p.limitSource)) + "</td>";
      out += "<td>" + html(p.measured.size() > 11 ? p.measured.substr(11) : p.measured) + "</td>";
      appendf(out, "<td>%.1f</td>", p.durationMs / 1000.0);
      std::string state = stateText(p.state);
      if (p.state == PointState::NotMeasured && !p.reason.empty()) state += " (" + p.reason + ")";
      if (state.empty()) out += "<td>-</td></tr>\n";
      else out += std::string("<td class=\"") + stateClass(p.state) + "\">" + html(state) + "</td></tr>\n";
    }
    if (!rr.points.empty()) out += "</table>\n";
    if (rr.points.empty()) out += "<p>Нет измеренных точек.</p>\n";
    if (r.verdict.empty()) {
      if (r.end == RunEnd::Finished) out += "<p>Допуск в программе не задан: заключение не выносится.</p>\n";
      else out += "<p>Поверка не завершена: заключение не выносится.</p>\n";
    } else {
      out += std::string("<p class=\"") + stateClass(stateOfWord(r.verdict)) + "\">Заключение: " + verdictText(r.verdict) +
             ".</p>\n";
    }
    out += "<p>Поверитель: ____________________</p>\n</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

int runReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::string serial, since, csv, htmlFile, path = kDatabaseName;
  int last = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      platform::writeText(out, kUsage);
      return 0;
    }
    bool takesValue = a == "--serial" || a == "--since" || a == "--csv" || a == "--html" || a == "--db" || a == "--last";
    if (!takesValue) {
      say(err, "qs report: неизвестный параметр %s (см. qs report --help)\n", a.c_str());
      return 1;
    }
    if (i + 1 >= args.size()) {
      say(err, "qs report: после %s нужно значение\n", a.c_str());
      return 1;
    }
    const std::string& v = args[++i];
    if (a == "--serial") serial = v;
    else if (a == "--since") since = v;
    else if (a == "--csv") csv = v;
    else if (a == "--html") htmlFile = v;
    else if (a == "--db") path = v;
    else last = std::atoi(v.c_str());
  }
  if (!since.empty() && !validDate(since)) {
    say(err, "qs report: дата %s не в виде ГГГГ-ММ-ДД\n", since.c_str());
    return 1;
  }
  if (last < 0) last = csv.empty() && htmlFile.empty() ? 50 : 0;

  std::string error;
  std::unique_ptr<ResultsDb> db = ResultsDb::open(path, false, &error);
  if (db == nullptr) {
    say(err, "qs report: база результатов %s не читается: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::vector<RunRow> runs;
  if (!db->runs(serial, since, last, &runs, &error)) {
    say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  if (csv.empty() && htmlFile.empty()) {
    platform::writeText(out, runsListing(runs));
    return 0;
  }
  std::vector<ReportRun> full;
  full.reserve(runs.size());
  for (const RunRow& r : runs) {
    ReportRun rr{r, {}};
    if (!db->pointsOf(r.id, &rr.points, &error)) {
      say(err, "qs report: база результатов %s повреждена: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    full.push_back(std::move(rr));
  }
  int status = 0;
  auto write = [&](const std::string& name, const std::string& bytes) {
    if (name.empty()) return;
    if (writeWholeFile(name, bytes) == WriteResult::kWritten) {
      say(out, "%s: %zu прогон(ов) записано.\n", name.c_str(), full.size());
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
