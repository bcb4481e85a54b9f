#pragma once
#include <string>
#include <vector>

#include "app/run_context_win.h"

namespace tessaryn {

// The `post` commands of the version whose folder this is (trailing backslash), from its own
// setup information file, checked as its uninstaller checks it; none, and a log line, when that
// file is missing, unreadable, too large, not signed or of another product.
std::vector<std::string> installedPostCommands(const std::wstring& folder);

// Removes the product's Start menu folder and, with `desktop`, its desktop shortcut.
void removeShortcuts(bool desktop);

// Asks, runs the clean-up commands, removes shortcuts and the registry record, then hands the
// folder to the clean-up script and ends the process. Returns only when the user says no.
int runUninstallRoad(const RunContext& context);

}  // namespace tessaryn
