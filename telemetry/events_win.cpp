#include "telemetry/events_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "net/json_post_win.h"
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
std::atomic<int> eventScope{-1};  // -1 not yet known, 0 the machine's install, 1 the user's
TelemetryConfig config;

void sendInBackground(UsageEvent event) {
    sendMetricNow(event);
    --pendingEvents;
}

// One request and its answer, shared with the thread that posts it: a host that trickles its
// answer keeps that thread, never the run, which stops waiting at the deadline.
struct Exchange {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::string answer;
    std::string signature;
    std::string error;  // empty when an answer came
};

void post(const std::shared_ptr<Exchange>& exchange, const std::string& body,
          const TelemetryConfig& settings) {
    std::string answer, signature, error;
    try {
        JsonPost how;
        how.userAgent = settings.userAgent;
        how.timeoutMs = kAnswerDeadlineMs;
        how.headerName = kAnswerSignatureHeader;
        JsonAnswer got = postJson(settings.address, body, how);
        answer = std::move(got.body);
        signature = std::move(got.header);
    } catch (const std::exception& failure) {
        error = failure.what();
        if (error.empty()) error = "failed";
    } catch (...) {
        error = "failed";
    }
    std::lock_guard<std::mutex> hold(exchange->lock);
    exchange->answer = std::move(answer);
    exchange->signature = std::move(signature);
    exchange->error = std::move(error);
    exchange->done = true;
    exchange->finished.notify_all();
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

void setEventScope(bool perUser) {
    eventScope = perUser ? 1 : 0;
}

void setEventSource(int32_t source) {
    eventSource = source;
}

void sendMetricNow(UsageEvent event) {
    const int32_t number = static_cast<int32_t>(event);
    const std::string name = "Event " + std::to_string(number);
    try {
        const std::string body =
            metricBody(number, newAnswerNonce(), config.productName, config.machineId,
                       eventSource.load(), config.system, kSetupVersion,
                       eventScope < 0 ? nullptr : eventScope == 1 ? "user" : "machine");
        auto exchange = std::make_shared<Exchange>();
        const TelemetryConfig settings = config;
        std::thread(post, exchange, body, settings).detach();
        std::unique_lock<std::mutex> hold(exchange->lock);
        if (!exchange->finished.wait_for(hold, std::chrono::milliseconds(kAnswerDeadlineMs),
                                         [&] { return exchange->done; })) {
            logLine(name + " sent; no answer within " + std::to_string(kAnswerDeadlineMs / 1000) +
                    " s: none is awaited any longer");
            return;
        }
        if (!exchange->error.empty()) {
            logLine(name + " not sent: " + exchange->error);
            return;
        }
        const std::string answer = exchange->answer;
        const std::string signature = exchange->signature;
        hold.unlock();
        logLine(name + " sent; answer: " + answer);
        // Anyone on the path could have written an answer: only the host's key makes it one.
        if (!config.answersKey) {
            if (!answer.empty()) logLine(name + ": answer ignored (this build has no answers key)");
            return;
        }
        if (!answerSignatureValid(body, answer, signature, *config.answersKey)) {
            if (!answer.empty())
                logLine(name + ": answer ignored (" +
                        (signature.empty() ? "not signed" : "signature invalid") + ")");
            return;
        }
        carryOutAnswer(interpretAnswer(answer, config.silent));
    } catch (const std::exception& error) {
        logLine(name + " not sent: " + error.what());
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
