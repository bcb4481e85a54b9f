#pragma once
// What the process's token says about elevation, and starting this program elevated.
#include <windows.h>

#include <string>

namespace tessaryn {

// TokenElevationType (1 default, 2 full, 3 limited), the LocalSystem account, membership of
// Administrators, and whether User Account Control elevates at all (EnableLUA).
struct ElevationFacts {
    int elevationType = 1;
    bool localSystem = false;
    bool administrator = false;
    bool elevationAvailable = true;
};

ElevationFacts readElevationFacts();

struct ElevatedRun {
    bool started = false;
    DWORD error = 0;     // why it did not start: ERROR_CANCELLED for a refused prompt
    DWORD exitCode = 0;  // the elevated run's, once it has ended
};

// Starts the program with the verb "runas" (the system's elevation prompt) and the arguments,
// and waits for it to end.
ElevatedRun runElevatedAndWait(const std::wstring& program, const std::wstring& arguments);

}  // namespace tessaryn
