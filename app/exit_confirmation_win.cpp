#include <windows.h>

#include <string>

#include "app/exit_confirmation.h"
#include "system/run_log.h"

namespace tessaryn {

bool confirmExitSetup() {
    constexpr UINT style = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST;
    static_assert(style == 0x50024);
    const bool yes = MessageBoxA(nullptr,
                       "Setup is not complete.  If you exit now, the program will not be "
                       "installed.\n\nYou may run Setup again at another time to complete the "
                       "installation.\n\nExit Setup?",
                       "Exit Setup", style) == IDYES;
    logLine(std::string("Message (Exit Setup): Setup is not complete. Exit Setup? Answer: ") +
            (yes ? "Yes" : "No"));
    return yes;
}

}  // namespace tessaryn
