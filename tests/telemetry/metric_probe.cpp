// Sends one event in the background to the address in its first argument and waits for it; ends
// with 3 when the answer asked for an end (which must wait for a safe point), else with 7.
#include <windows.h>

#include <string>

#include "app/setup_state.h"
#include "telemetry/events_win.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    tessaryn::SetupState& state = tessaryn::setupState();
    state.productName = "Tessaryn";
    state.machineId = "anon-PROBE";
    state.userAgent = "Setup/1.1 (Probe)";
    state.metricsUrl = argv[1];
    state.metricsEnabled = true;
    state.verySilent = true;
    tessaryn::sendMetric(9, true);
    if (!tessaryn::waitForPendingMetrics(20000)) return 8;
    return tessaryn::hostAskedToEnd() ? 3 : 7;
}
