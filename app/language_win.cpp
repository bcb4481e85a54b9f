#include "app/language_win.h"

#include <windows.h>

#include "app/ui_text.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

std::string tagOf(LANGID language) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) <= 0)
        return {};
    return toUtf8(name);
}

}  // namespace

LanguageSignals userLanguageSignals() {
    LanguageSignals signals;
    signals.display = tagOf(GetUserDefaultUILanguage());
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    if (GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) > 0)
        signals.locale = toUtf8(locale);
    const auto layout = reinterpret_cast<uintptr_t>(GetKeyboardLayout(0));
    signals.keyboard = tagOf(static_cast<LANGID>(layout & 0xFFFF));
    return signals;
}

void useRunLanguage(const std::string& langSwitch) {
    const LanguageChoice choice = chooseLanguage(userLanguageSignals(), langSwitch);
    logLine(choice.logLine);
    if (std::optional<UiTexts> texts = languageTexts(choice.tag)) {
        useTexts(std::move(*texts));
    } else {
        logLine("Language: the texts of " + choice.tag + " did not decode; English is shown");
    }
}

}  // namespace tessaryn
