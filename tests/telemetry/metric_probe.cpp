// Sends one event synchronously to the address in its first argument and acts on the answer;
// ends with 7 when the answer did not end the process.
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
    tessaryn::sendMetricNow(9);
    return 7;
}
