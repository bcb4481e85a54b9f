#pragma once
// Before anything is fetched or written: which install the run works on, and, for the machine's
// from an unelevated process, the same program started elevated in its place.
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/install_scope.h"
#include "app/run_context_win.h"

namespace tessaryn {

// The run's scope, or the exit code it ended with: two installs and no switch (8), the elevated
// run's own code, or no administrator (9) unless the user takes their own install instead.
// `arguments` are the program's, passed on as they came.
std::optional<int> settleScope(const CommandLineOptions& options, const std::string& arguments,
                               bool uninstaller, ScopePlan& plan);

// An elevated run on the user's road: its install folder, Start menu and desktop must be what
// their paths name, with no link planted on the way; else the exit code of its end.
std::optional<int> refuseLinkedUserFolders(const RunContext& context, bool silent);

}  // namespace tessaryn
