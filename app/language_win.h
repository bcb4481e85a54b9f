#pragma once
// The run's language, chosen once before any window is made.
#include <string>

#include "app/language_choice.h"

namespace tessaryn {

// The user's display language, locale and keyboard as BCP-47 tags.
LanguageSignals userLanguageSignals();

// Chooses from the user's signals and the "/LANG=" value, logs why and makes it the run's.
void useRunLanguage(const std::string& langSwitch);

}  // namespace tessaryn
