// Sends one event in the background to the address in its first argument and waits for it; ends
// with 3 when the answer asked for an end (which must wait for a safe point), else with 7.
#include <windows.h>

#include <string>

#include "telemetry/events_win.h"
#include "tests/telemetry/answers_key.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    tessaryn::configureTelemetry({argv[1], "Tessaryn", "anon-PROBE", "Setup/1.1 (Probe)",
                                  /*silent=*/true, /*enabled=*/true,
                                  tessaryn::testing::answersKey(), "Probe"});
    tessaryn::sendMetric(tessaryn::UsageEvent::InstallCompleted, true);
    if (!tessaryn::waitForPendingMetrics(20000)) return 8;
    return tessaryn::hostAskedToEnd() ? 3 : 7;
}
