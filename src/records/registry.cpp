#include "records/registry.h"

#include <cmath>
#include <set>

#include "console/codepage.h"
#include "console/number_text.h"
#include "console/text_file.h"
#include "metrology/decision.h"
#include "metrology/validity.h"
#include "settings/key_lines.h"
#include "settings/laboratory.h"

namespace qs::records {
namespace {

// At most `limit` characters: what is longer ends in "…" at the limit.
std::string cut(const std::string& text, size_t limit) {
  if (characterCount(text) <= limit) return text;
  return fittedText(text, limit - 1) + "\xE2\x80\xA6";
}

// One element of the document with its text; none when the text is empty
// (an empty element is not taken).
void element(std::string& out, const char* name, const std::string& text, size_t limit) {
  std::string t = trimmed(text);
  if (t.empty()) return;
  out += std::string("<gost:") + name + ">" + markupText(cut(t, limit)) + "</gost:" + name + ">";
}

// "+03:00": the writer's offset, as xs:date writes a zone.
std::string zoneOf(const Stamp& s) {
  int m = s.offsetMin < 0 ? -s.offsetMin : s.offsetMin;
  std::string out;
  appendf(out, "%c%02d:%02d", s.offsetMin < 0 ? '-' : '+', m / 60, m % 60);
  return out;
}

// The failed points of the last attempts, in words: "точки 2 (канал 1:
// 1,210 % при допуске 1,0 %), 5 (канал 3: -1,105 % при допуске 1,0 %)".
std::string reasonsOf(const std::vector<const PointRecord*>& points) {
  std::vector<std::string> failed;
  for (const PointRecord* p : points) {
    if (p->state != PointState::Failed) continue;
    int64_t limit = 0;
    parseLimit(p->limit, &limit);
    std::string channels;
    for (int n = 0; n < 3; ++n) {
      if (!metrology::outsideLimit(p->channel[n], limit)) continue;
      channels += (channels.empty() ? "" : ", ") + std::string("канал ") + std::to_string(n + 1) + ": " +
                  fixed3(p->channel[n], ',') + " %";
    }
    failed.push_back(std::to_string(p->number) + " (" + channels + " при допуске " + limitShown(p->limit) + " %)");
  }
  std::string out = "Основная погрешность превышает допускаемую: ";
  out += failed.size() == 1 ? "точка " : "точки ";
  for (size_t k = 0; k < failed.size(); ++k) out += (k == 0 ? "" : ", ") + failed[k];
  return out;
}

// Why a run is no record of the registry ("" when it is one).
std::string whyNot(const ReportRun& rr, const std::string& verdict, bool incomplete) {
  const RunRow& r = rr.run;
  const RunInfo& i = r.info;
  if (r.end == RunEnd::Lost) return "прогон потерян";
  if (r.end == RunEnd::Open) return "поверка идёт";
  if (incomplete) return "запись неполная";
  if (verdict.empty()) return "нет заключения: допуски не заданы";
  if (verdict == stateWord(PointState::NotMeasured)) return "не все точки измерены";
  if (verdict == stateWord(PointState::NotJudged))
    return "не оценено" + std::string(withoutLimitOf(rr) > 0 ? ": есть точки без допуска" : "");
  std::string fault = verificationFaultOf(rr);
  if (!fault.empty()) return fault;
  if (trimmed(i.serial).empty()) return "серийный номер не считан";
  if (trimmed(i.registerNumber).empty()) return "нет номера типа в реестре (meters.sch)";
  if (trimmed(i.signCipher).empty()) return "нет шифра знака поверки (строка Registry в common.sch)";
  if (!i.conditionsKnown) return "не введены условия поверки";
  if (trimmed(i.operatorName).empty()) return "нет поверителя";
  if (trimmed(i.referenceFund).empty()) return "нет номера эталона в ФИФ (строка Ref в common.sch)";
  if (trimmed(i.labMethod).empty()) return "нет документа методики (строка Lab в common.sch)";
  if (trimmed(i.owner).empty()) return "нет владельца счётчика";
  return "";
}

// One `result`.
std::string resultOf(const ReportRun& rr, bool fit) {
  const RunInfo& i = rr.run.info;
  std::string out = "<gost:result>";
  out += "<gost:miInfo><gost:singleMI>";
  element(out, "mitypeNumber", i.registerNumber, 32);
  element(out, "manufactureNum", i.serial, 128);
  element(out, "modification", i.modification.empty() ? "Нет модификации" : i.modification, 128);
  out += "</gost:singleMI></gost:miInfo>";
  element(out, "signCipher", i.signCipher, 3);
  element(out, "miOwner", i.owner, 512);
  std::string date = localText(i.started).substr(0, 10);
  element(out, "vrfDate", date + zoneOf(i.started), 64);
  if (fit) {
    std::string until = metrology::validUntil(date, i.meterInterval);
    if (!until.empty()) element(out, "validDate", until + zoneOf(i.started), 64);
  }
  out += i.verificationKind == 1 ? "<gost:type>1</gost:type>" : "<gost:type>2</gost:type>";
  out += "<gost:calibration>false</gost:calibration>";
  if (fit) {
    out += std::string("<gost:applicable><gost:signPass>") + (i.signPass ? "true" : "false") +
           "</gost:signPass><gost:signMi>" + (i.signMi ? "true" : "false") + "</gost:signMi></gost:applicable>";
  } else {
    std::vector<const PointRecord*> last;
    for (const ReportRun::Earlier& e : rr.earlier)
      for (const PointRecord& p : e.points) last.push_back(&p);
    for (const PointRecord& p : rr.points) last.push_back(&p);
    out += "<gost:inapplicable>";
    element(out, "reasons", reasonsOf(last), 1024);
    out += "</gost:inapplicable>";
  }
  element(out, "docTitle", i.labMethod, 128);
  element(out, "metrologist", i.operatorName, 128);
  out += "<gost:means><gost:mieta>";
  element(out, "number", i.referenceFund, 128);
  out += "</gost:mieta></gost:means>";
  out += "<gost:conditions>";
  element(out, "temperature", conditionShown(i.temperature) + " °C", 128);
  element(out, "pressure", conditionShown(i.pressure) + " кПа", 128);
  element(out, "hymidity", conditionShown(i.humidity) + " %", 128);
  out += "</gost:conditions>";
  out += "</gost:result>\n";
  return out;
}

std::string document(const std::string& results) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gost:application xmlns:gost=\"") +
         kRegistryNamespace + "\">\n" + results + "</gost:application>\n";
}

}  // namespace

RegistryExport registryExport(const std::vector<ReportRun>& runs, size_t perFile) {
  RegistryExport out;
  if (perFile == 0) perFile = 1;
  std::string results;
  size_t inFile = 0;
  for (const ReportRun& rr : runs) {
    // A run that a re-test completes is that meter's record with it.
    if (!rr.repeatedBy.empty()) continue;
    bool incomplete = false;
    std::string verdict = meterVerdict(rr, &incomplete);
    std::string why = whyNot(rr, verdict, incomplete);
    if (!why.empty()) {
      std::string serial = rr.run.info.serial.empty() ? "не считан" : rr.run.info.serial;
      out.leftOut.push_back("прогон " + protocolNumber(rr.run) + " (счётчик " + serial + "): не выгружен — " + why);
      continue;
    }
    results += resultOf(rr, verdict == stateWord(PointState::Passed));
    ++out.records;
    if (++inFile == perFile) {
      out.documents.push_back(document(results));
      results.clear();
      inFile = 0;
    }
  }
  if (inFile > 0) out.documents.push_back(document(results));
  return out;
}

std::string registryFileName(const std::string& name, size_t n) {
  if (n <= 1) return name;
  size_t dot = name.rfind('.');
  size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0)
    return name + "-" + std::to_string(n);
  return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

}  // namespace qs::records
