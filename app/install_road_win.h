#pragma once
#include "app/checked_release.h"
#include "app/command_line.h"
#include "app/run_context_win.h"

namespace tessaryn {

// License, package, unpacking beside the install folder, removal of an earlier version, the swap,
// shortcuts, uninstaller and registration, start of the product. Returns the exit code of the
// run's outcome, already reported.
int runInstallRoad(const CommandLineOptions& options, const CheckedRelease& release,
                   RunContext& context);

}  // namespace tessaryn
