#include <windows.h>

#include <string>

#include "app/exit_confirmation.h"
#include "app/ui_text.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {

bool confirmExitSetup() {
    constexpr UINT style = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST;
    static_assert(style == 0x50024);
    const UiTexts& texts = uiTexts();
    const bool yes = MessageBoxW(nullptr, toWide(texts(Text::exit_text)).c_str(),
                                 toWide(texts(Text::exit_title)).c_str(), boxStyle(style)) == IDYES;
    logLine(std::string("Message (Exit Setup): Setup is not complete. Exit Setup? Answer: ") +
            (yes ? "Yes" : "No"));
    return yes;
}

}  // namespace tessaryn
