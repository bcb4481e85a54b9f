#pragma once
// Which of the setup's languages a run speaks. Only the display language counts: the locale
// (number and date formats) and the keyboard say nothing about what a person reads, and are
// passed in so that the log can show them beside the choice.
#include <optional>
#include <string>
#include <string_view>

namespace tessaryn {

struct LanguageSignals {
    std::string display;   // BCP-47 tag of the user's display language, e.g. "de-DE"
    std::string locale;    // the user's locale, e.g. "de-CH"
    std::string keyboard;  // the keyboard layout's language
};

struct LanguageChoice {
    std::string tag;      // one of kLanguageTags
    std::string logLine;  // "Language: de (display language)" and the like
};

// One of kLanguageTags for a BCP-47 tag in any case ("_" taken as "-"): the tag itself, else
// the same language of another region or script; Simplified and Traditional Chinese never
// stand in for each other. None when the setup does not speak the language.
std::optional<std::string> matchLanguage(std::string_view tag);

// `langSwitch` is the "/LANG=" value (empty without one): it wins when the setup has that
// language; otherwise the display language's match, else English.
LanguageChoice chooseLanguage(const LanguageSignals& signals, std::string_view langSwitch);

}  // namespace tessaryn
