#include "app/language_choice.h"

#include "ui_text_ids.h"
#include "system/ascii_text.h"

namespace tessaryn {

namespace {

// Whether a subtag after the language one (script or region) is `part`, in any case.
bool has(std::string_view tag, std::string_view part) {
    for (size_t at = tag.find_first_of("-_"); at != std::string_view::npos;) {
        const size_t end = tag.find_first_of("-_", at + 1);
        if (equalsIgnoringAsciiCase(tag.substr(at + 1, end - at - 1), part)) return true;
        at = end;
    }
    return false;
}

std::string_view languageOf(std::string_view tag) {
    return tag.substr(0, tag.find_first_of("-_"));
}

}  // namespace

std::optional<std::string> matchLanguage(std::string_view tag) {
    const std::string_view language = languageOf(tag);
    if (language.empty()) return std::nullopt;
    for (const char* known : kLanguageTags)
        if (equalsIgnoringAsciiCase(tag, known)) return std::string(known);
    // Chinese by script: Traditional for Taiwan, Hong Kong and Macao or where the tag says Hant.
    if (equalsIgnoringAsciiCase(language, "zh")) {
        const bool traditional = !has(tag, "hans") && (has(tag, "hant") || has(tag, "tw") ||
                                                       has(tag, "hk") || has(tag, "mo"));
        return traditional ? "zh-TW" : "zh-CN";
    }
    // Brazil's written norm for Brazil and for a bare "pt"; Portugal's for every other region.
    if (equalsIgnoringAsciiCase(language, "pt"))
        return language.size() == tag.size() || has(tag, "br") ? "pt-BR" : "pt-PT";
    // Norwegian as a whole is read in Bokmål.
    const std::string_view wanted = equalsIgnoringAsciiCase(language, "no") ? "nb" : language;
    for (const char* known : kLanguageTags)
        if (equalsIgnoringAsciiCase(languageOf(known), wanted)) return std::string(known);
    return std::nullopt;
}

LanguageChoice chooseLanguage(const LanguageSignals& signals, std::string_view langSwitch) {
    const auto named = [](const std::string& tag) { return tag.empty() ? "unknown" : tag; };
    std::string notes = "; display " + named(signals.display) + ", locale " +
                        named(signals.locale) + ", keyboard " + named(signals.keyboard);
    if (!langSwitch.empty()) {
        if (std::optional<std::string> chosen = matchLanguage(langSwitch))
            return {*chosen, "Language: " + *chosen + " (/LANG=" + std::string(langSwitch) + ")" +
                                 notes};
        notes += "; /LANG=" + std::string(langSwitch) + " is not a language of this setup";
    }
    if (std::optional<std::string> chosen = matchLanguage(signals.display))
        return {*chosen, "Language: " + *chosen + " (display language)" + notes};
    return {"en", "Language: en (no translation of the display language)" + notes};
}

}  // namespace tessaryn
