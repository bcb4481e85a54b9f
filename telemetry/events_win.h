#pragma once
// Sending usage events to the product's web host and acting on its answers.
#include <cstdint>

#include "telemetry/events.h"

namespace tessaryn {

// Sends the event when events are switched on: in the background on a detached thread that never
// blocks the caller, or right here. No failure ever reaches the caller.
void sendMetric(int32_t event, bool background);

// Posts the event and acts on the answer (which may end the process).
void sendMetricNow(int32_t event);

// Waits up to `timeoutMs` for background events still on their way, so that those sent just
// before the program ends are not cut off. True when none is left.
bool waitForPendingMetrics(uint32_t timeoutMs);

// How long a program about to end gives its background events to arrive.
inline constexpr uint32_t kPendingMetricsWait = 5000;

// Opens the address, shows the message, ends the process, as the answer asked.
void carryOutAnswer(const AnswerActions& actions);

}  // namespace tessaryn
