#pragma once
// Starting the installed product and web pages with the rights of the signed-in user, not with
// the elevated rights of the setup.
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "system/wait_lock.h"

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

// launchAsUser with the way to the desktop shell made ahead, on a thread of its own: reaching
// the shell takes a string of calls between processes (about a tenth of a second under Wine),
// which then overlaps other work, and the start itself is one call.
class PreparedLaunch {
  public:
    PreparedLaunch();
    // Ends the thread; nothing is started unless launch() was called.
    ~PreparedLaunch();
    PreparedLaunch(const PreparedLaunch&) = delete;
    PreparedLaunch& operator=(const PreparedLaunch&) = delete;

    // As launchAsUser; a shell that went away meanwhile is reached again. Once only: a second
    // call takes the whole way.
    LaunchRoad launch(const std::wstring& file, const std::wstring& directory);

  private:
    void run();

    WaitLock mutex_;
    WaitCondition changed_;
    std::optional<std::pair<std::wstring, std::wstring>> request_;
    bool quitting_ = false;
    bool answered_ = false;
    bool started_ = false;
    std::thread thread_;
};

}  // namespace tessaryn
