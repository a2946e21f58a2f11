// What a verification's validity rests on besides its points: a reference
// within its calibration, the day's conditions inside the method's bounds,
// and the meter type's interval that gives the day it is valid until.
#pragma once
#include <string>

#include "settings/laboratory.h"

namespace qs::metrology {

// The last day a verification made on `date` ("YYYY-MM-DD") is valid: the
// same day `years` later, less one day; "" when either is not known.
std::string validUntil(const std::string& date, int years);

// Whether a reference whose calibration was due `due` was past it on
// `date` (the due day itself is still within it); false when either is
// not known.
bool referenceExpired(const std::string& due, const std::string& date);
// Why no run may start with the reference of `settingsPath` on `today`
// ("Срок поверки установки ЭУ7125М № 123 истёк 2026-01-31: поверка
// невозможна.", or what is wrong with its line); "" when one may.
std::string referenceRefusal(const std::string& settingsPath, const std::string& today);

// The first of the day's conditions outside the method's bounds
// ("Влажность 85 % вне границ методики 30–80 %"), "" when each is inside
// its bounds or the method gives none.
std::string conditionOutside(const Laboratory& lab, const Conditions& c);
// The same as the sentence that refuses a run: "…: поверка невозможна.".
std::string conditionsRefusal(const Laboratory& lab, const Conditions& c);

// The conditions a run recorded, with the method's bounds as it recorded
// them ("15–25"; "" none).
struct RecordedConditions {
  bool known = false;
  double temperature = 0, humidity = 0, pressure = 0;
  std::string temperatureBounds, humidityBounds, pressureBounds;
};
std::string conditionOutside(const RecordedConditions& c);

// Why a verification made on `date` cannot stand whatever its points say
// ("эталон применён после срока его поверки", "влажность 85 % вне границ
// методики 30–80 %"), "" when nothing stands against it.
std::string verificationFault(const std::string& date, const std::string& referenceDue, const RecordedConditions& c);

// The same for the conditions entered today in this working folder
// (`conditionsFile`), against the `Lab:` line of `settingsPath`: what a
// stand's master checks before it starts its benches.
std::string dayConditionsRefusal(const std::string& settingsPath, const std::string& conditionsFile,
                                 const std::string& today);

}  // namespace qs::metrology
