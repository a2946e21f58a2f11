// Arbitrary bytes as the files the workshop prepares by hand: the register
// descriptions, the settings files and the laboratory's class rows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/codepage.h"
#include "settings/class_rows.h"
#include "settings/laboratory.h"
#include "settings/meter_types.h"
#include "settings/settings.h"
#include "devlink/dev_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/qs-fuzz-text-" + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::vector<qs::RegisterInfo> table;
  qs::loadRegisterFile(path, table);

  char digit = '2';
  uint8_t address = 0x21;
  std::string problem;
  qs::readTaskLine(path, "Task", 1, &digit, &address, &problem);
  std::vector<qs::MenuItem> items;
  int count = 0;
  qs::loadMenuItems(path, &items, &count);
  qs::wrappedText(qs::classRowsRefusal(qs::readClassRows(path)), 77);
  // The laboratory's lines, the catalogue, the measuring and the day's
  // conditions, each as its reader takes a file.
  qs::Laboratory lab;
  qs::Reference ref;
  qs::Registry registry;
  qs::Stand stand;
  qs::readLaboratory(path, &lab, &problem);
  qs::readReference(path, &ref, &problem);
  qs::readRegistry(path, &registry, &problem);
  qs::readStand(path, &stand, &problem);
  qs::MeasureSettings measure;
  qs::readMeasureLine(path, &measure, &problem);
  qs::catalogueNote(qs::readMeterCatalogue(path));
  qs::readConditions(path);
  return 0;
}
