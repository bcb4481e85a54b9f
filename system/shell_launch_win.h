#pragma once
// Starting the installed product and web pages with the rights of the signed-in user, not with
// the elevated rights of the setup.
#include <string>

namespace tessaryn {

enum class LaunchRoad {
    DesktopShell,  // the desktop shell's own ShellExecute, in the shell's process and rights
    Failed,        // not started: no shell reached (e.g. as SYSTEM) or it could not start it
};

// Opens a file or address with its associated program, shown normally, through the desktop
// shell only; when the shell cannot be reached nothing starts (the setup is elevated) and the
// log says so. `directory` may be empty.
LaunchRoad launchAsUser(const std::wstring& file, const std::wstring& directory = L"");

// The shell road alone: false when no desktop shell can be reached (none runs, as for SYSTEM in
// a deployment, or it runs in another session) or any step on the way fails.
[[nodiscard]]
bool launchThroughDesktopShell(const std::wstring& file, const std::wstring& directory);

}  // namespace tessaryn
