#pragma once
#include "app/run_context_win.h"

namespace tessaryn {

// Asks, runs the clean-up commands, removes shortcuts and the registry record, then hands the
// folder to the clean-up script and ends the process. Returns only when the user says no.
int runUninstallRoad(const RunContext& context);

}  // namespace tessaryn
