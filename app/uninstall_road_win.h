#pragma once
#include <string>
#include <vector>

#include "app/checked_release.h"
#include "app/command_line.h"
#include "app/run_context_win.h"

namespace tessaryn {

// The `post` commands of the version of `productName` whose folder this is (trailing
// backslash), from its own setup information file, checked as its uninstaller checks it; none,
// and a log line, when that file is missing, unreadable, too large, not signed or of another
// product.
std::vector<std::string> installedPostCommands(const std::wstring& folder,
                                               const std::string& productName);

// Removes the product's Start menu folder and, with `desktop`, its desktop shortcut; the paths
// of those still there afterwards, each logged.
std::vector<std::string> removeShortcuts(const std::string& productName, bool desktop,
                                         bool perUser);

// Asks, runs the clean-up commands, removes shortcuts and the registry record, then hands the
// folder to the clean-up script and ends the process. Returns only when the user says no or the
// web host asks for an end.
int runUninstallRoad(const CommandLineOptions& options, const CheckedRelease& release,
                     const RunContext& context);

}  // namespace tessaryn
