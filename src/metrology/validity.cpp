#include "metrology/validity.h"

namespace qs::metrology {

std::string conditionOutside(const Laboratory& lab, const Conditions& c) {
  const Bounds* bounds[3] = {&lab.temperature, &lab.humidity, &lab.pressure};
  for (int i = 0; i < 3; ++i) {
    double v = conditionValue(c, i);
    if (bounds[i]->holds(v)) continue;
    const ConditionRange& r = kConditionRanges[i];
    return std::string(r.name) + " " + conditionShown(v) + " " + r.unit + " вне границ методики " +
           boundsText(*bounds[i]) + " " + r.unit;
  }
  return "";
}

std::string conditionsRefusal(const Laboratory& lab, const Conditions& c) {
  std::string outside = conditionOutside(lab, c);
  return outside.empty() ? "" : outside + ": поверка невозможна.";
}

std::string dayConditionsRefusal(const std::string& settingsPath, const std::string& conditionsFile,
                                 const std::string& today) {
  Laboratory lab;
  if (!readLaboratory(settingsPath, &lab, nullptr) || !lab.given) return "";
  Conditions c = readConditions(conditionsFile);
  return c.known && c.date == today ? conditionsRefusal(lab, c) : "";
}

}  // namespace qs::metrology
