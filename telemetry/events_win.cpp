#include "telemetry/events_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/file_downloader.h"
#include "system/run_log.h"
#include "system/shell_launch_win.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

// Background events started and not yet finished.
std::atomic<int> pendingEvents{0};
std::atomic<bool> endAsked{false};
// Set from the run's thread, read on the threads that send.
std::atomic<int32_t> eventSource{-1};
TelemetryConfig config;

void sendInBackground(UsageEvent event) {
    sendMetricNow(event);
    --pendingEvents;
}

}  // namespace

void carryOutAnswer(const AnswerActions& actions) {
    // Wide calls, so that non-ASCII texts and addresses arrive as the host wrote them.
    if (!actions.openUrl.empty()) launchAsUser(toWide(actions.openUrl));
    if (actions.showMessage) logLine("Message (" + actions.title + "): " + actions.message);
    if (actions.showMessage) {
        ::MessageBoxW(nullptr, toWide(actions.message).c_str(), toWide(actions.title).c_str(),
                      actions.style);
    }
    // Carried out by the run between two steps, never from this thread.
    if (actions.exitProcess) {
        logLine("The web host asked the run to end");
        endAsked = true;
    }
}

bool hostAskedToEnd() noexcept {
    return endAsked;
}

void configureTelemetry(TelemetryConfig given) {
    config = std::move(given);
}

void setEventSource(int32_t source) {
    eventSource = source;
}

void sendMetricNow(UsageEvent event) {
    const int32_t number = static_cast<int32_t>(event);
    try {
        std::string body =
            metricBody(number, config.productName, config.machineId, eventSource.load());
        std::string answer;
        {
            FileDownloader downloader(config.userAgent, 10000);
            answer = downloader.postJson(config.address, body);
        }
        logLine("Event " + std::to_string(number) + " sent; answer: " + answer);
        carryOutAnswer(interpretAnswer(answer, config.silent));
    } catch (const std::exception& error) {
        logLine("Event " + std::to_string(number) + " not sent: " + error.what());
    } catch (...) {
        // Events are fire-and-forget: nothing reaches the caller.
    }
}

void sendMetric(UsageEvent event, bool background) {
    if (!config.enabled) return;
    if (!background) {
        sendMetricNow(event);
        return;
    }
    ++pendingEvents;
    try {
        std::thread(sendInBackground, event).detach();
    } catch (...) {
        // No thread to spare: the event is dropped rather than delaying the caller.
        --pendingEvents;
    }
}

bool waitForPendingMetrics(uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pendingEvents > 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void finishPendingMetrics() noexcept {
    (void)waitForPendingMetrics(kPendingMetricsWait);
}

}  // namespace tessaryn
