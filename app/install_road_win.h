#pragma once
#include "app/run_context_win.h"

namespace tessaryn {

// License, package, removal of an earlier version, unpacking, shortcuts, uninstaller and
// registration, start of the product. Returns the exit code.
int runInstallRoad(RunContext& context);

}  // namespace tessaryn
