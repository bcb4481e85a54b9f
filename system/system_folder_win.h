#pragma once
// The system folder, and loading libraries and starting programs only from there: the setup runs
// elevated beside files that any program of the user may have put into its folder.
#include <windows.h>

#include <string>

namespace tessaryn {

// Makes the system folder the only place where this process looks for libraries, also for the
// delay-loaded ones. The first call of WinMain. False when the system refused.
bool limitLibrarySearchToSystemFolder();

// Loads a library of the system folder by its file name; null when there is none.
HMODULE loadSystemLibrary(const wchar_t* fileName);

// The system folder (System32), without a trailing separator; throws when it cannot be read.
std::wstring systemFolder();

// The full path of the system folder's command processor.
std::wstring systemCommandProcessor();

}  // namespace tessaryn
