// What a verification's validity rests on besides its points: the day's
// conditions inside the method's bounds.
#pragma once
#include <string>

#include "settings/laboratory.h"

namespace qs::metrology {

// The first of the day's conditions outside the method's bounds
// ("Влажность 85 % вне границ методики 30–80 %"), "" when each is inside
// its bounds or the method gives none.
std::string conditionOutside(const Laboratory& lab, const Conditions& c);
// The same as the sentence that refuses a run: "…: поверка невозможна.".
std::string conditionsRefusal(const Laboratory& lab, const Conditions& c);

// The same for the conditions entered today in this working folder
// (`conditionsFile`), against the `Lab:` line of `settingsPath`: what a
// stand's master checks before it starts its benches.
std::string dayConditionsRefusal(const std::string& settingsPath, const std::string& conditionsFile,
                                 const std::string& today);

}  // namespace qs::metrology
