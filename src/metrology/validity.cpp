#include "metrology/validity.h"

#include "settings/calendar.h"

namespace qs::metrology {

std::string validUntil(const std::string& date, int years) { return lastDayAfterYears(date, years); }

bool referenceExpired(const std::string& due, const std::string& date) {
  return isCalendarDate(due) && isCalendarDate(date) && date > due;
}

std::string referenceRefusal(const std::string& settingsPath, const std::string& today) {
  Reference ref;
  std::string problem;
  if (!readReference(settingsPath, &ref, &problem)) return "Ошибка в настройках: " + problem;
  if (!ref.given || !referenceExpired(ref.due, today)) return "";
  return "Срок поверки установки " + ref.model + (ref.serial.empty() ? "" : " № " + ref.serial) + " истёк " + ref.due +
         ": поверка невозможна.";
}

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

std::string conditionOutside(const RecordedConditions& c) {
  if (!c.known) return "";
  Laboratory lab;
  // Bounds that do not read back are no bounds the run was held to.
  if (!parseBounds(c.temperatureBounds, &lab.temperature)) lab.temperature = Bounds{};
  if (!parseBounds(c.humidityBounds, &lab.humidity)) lab.humidity = Bounds{};
  if (!parseBounds(c.pressureBounds, &lab.pressure)) lab.pressure = Bounds{};
  Conditions day;
  day.known = true;
  day.temperature = c.temperature;
  day.humidity = c.humidity;
  day.pressure = c.pressure;
  return conditionOutside(lab, day);
}

std::string verificationFault(const std::string& date, const std::string& referenceDue, const RecordedConditions& c) {
  if (referenceExpired(referenceDue, date)) return "эталон применён после срока его поверки";
  // (Said in the middle of a sentence: the condition's name in small letters.)
  std::string outside = conditionOutside(c);
  for (const auto& [from, to] : {std::pair<const char*, const char*>{"Температура", "температура"},
                                 {"Влажность", "влажность"}, {"Давление", "давление"}})
    if (outside.rfind(from, 0) == 0) return to + outside.substr(std::string(from).size());
  return outside;
}

std::string dayConditionsRefusal(const std::string& settingsPath, const std::string& conditionsFile,
                                 const std::string& today) {
  Laboratory lab;
  if (!readLaboratory(settingsPath, &lab, nullptr) || !lab.given) return "";
  Conditions c = readConditions(conditionsFile);
  return c.known && c.date == today ? conditionsRefusal(lab, c) : "";
}

}  // namespace qs::metrology
