#pragma once
#include "app/run_context_win.h"

namespace tessaryn {

// License, package, unpacking beside the install folder, removal of an earlier version, the swap,
// shortcuts, uninstaller and registration, start of the product. Returns the exit code.
int runInstallRoad(RunContext& context);

}  // namespace tessaryn
