// The import file of the national registry of verifications (ФГИС
// «Аршин»): a `result` for each meter verified, as the registry takes it
// from a laboratory's upload.
#pragma once
#include <string>
#include <vector>

#include "records/report.h"

namespace qs::records {

// The namespace of the registry's import documents.
constexpr const char* kRegistryNamespace = "urn://fgis-arshin.gost.ru/module-verifications/import/2020-06-19";
// Lab tools upload at most this many records a file.
constexpr size_t kRegistryRecordsPerFile = 5000;

struct RegistryExport {
  // Whole documents, each of at most the records asked for a file.
  std::vector<std::string> documents;
  int records = 0;
  // The runs left out, each with why: "прогон 7 (счётчик 012345): не
  // выгружен — нет номера типа в реестре (meters.sch)".
  std::vector<std::string> leftOut;
};

// The records of the runs given (each with its points, the runs it
// completes and those that repeat it, as the report loads them): one for
// each meter verified, from a run with a passed or failed verdict that is
// complete, not lost, and holds every field the registry asks; a re-test
// and the runs it completes make one record, judged by the last attempt at
// each point.
RegistryExport registryExport(const std::vector<ReportRun>& runs, size_t perFile = kRegistryRecordsPerFile);

// The name of the n-th file (from 1) of an export named `name`:
// "day.xml", "day-2.xml", "day-3.xml", ...
std::string registryFileName(const std::string& name, size_t n);

}  // namespace qs::records
