#pragma once
// Sending usage events to the product's web host and acting on its answers.
#include <cstdint>
#include <optional>
#include <string>

#include "telemetry/answer_signature.h"
#include "telemetry/events.h"

namespace tessaryn {

// What sending needs to know about the run.
struct TelemetryConfig {
    std::string address;      // where events are posted
    std::string productName;  // goes into every event
    std::string machineId;    // the anonymous machine identifier
    std::string userAgent;
    bool silent = false;   // an answer's message is then only logged
    bool enabled = false;  // switched on by the setup information file
    // The key the host's answers must be signed with; without one no answer is acted on.
    std::optional<AnswersPublicKey> answersKey;
    std::string system;  // the system's description, sent in every event
};

// Set once, before the first event is sent; until then events are switched off. The sender is
// process-wide rather than passed along: events go out and answers arrive on background threads
// that outlive the calls that started them, and it is never changed after this call.
void configureTelemetry(TelemetryConfig config);

// The package's source (0 the primary address, 1 and up its mirrors), sent as "src" with every
// event from now on; -1 for none.
void setEventSource(int32_t source);
// Which install the run works on, sent as "scope" with every later event.
void setEventScope(bool perUser);

// Sends the event when events are switched on: in the background on a detached thread that never
// blocks the caller, or right here. No failure ever reaches the caller.
void sendMetric(UsageEvent event, bool background);

// Posts the event and acts on a signed answer (an asked-for end is only recorded). The whole
// exchange has kAnswerDeadlineMs, whatever the host does; an answer later than that is dropped.
void sendMetricNow(UsageEvent event);
inline constexpr uint32_t kAnswerDeadlineMs = 10000;

// Waits up to `timeoutMs` for background events still on their way, so that those sent just
// before the program ends are not cut off. True when none is left.
[[nodiscard]] bool waitForPendingMetrics(uint32_t timeoutMs);

// How long a program about to end gives its background events to arrive.
inline constexpr uint32_t kPendingMetricsWait = 5000;

// Waits the above for events still on their way: the work registered to run before the end.
void finishPendingMetrics() noexcept;

// Opens the address (as the signed-in user) and shows the message, as the answer asked. An asked-
// for end is recorded, never carried out here: answers arrive on background threads at any
// moment, also while files are written.
void carryOutAnswer(const AnswerActions& actions);

// True once an answer asked the program to end. The roads test it at their safe points, between
// steps, and then end the run with its own exit code (an installation already complete keeps 0).
bool hostAskedToEnd() noexcept;

}  // namespace tessaryn
