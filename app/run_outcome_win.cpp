#include "app/run_outcome_win.h"

#include "app/status_texts.h"
#include "app/web_origin.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"

namespace tessaryn {

int endRun(const RunEnd& end, bool silent, const std::string& support, HWND owner) {
    const EndPlan plan = planEnd(end, silent, support, uiTexts());
    if (!plan.message.empty()) logLine("Message (" + plan.title + "): " + plan.message);
    logLine(plan.logLine);
    if (plan.event) sendMetric(*plan.event, true);
    if (plan.showBox) {
        if (owner && !IsWindow(owner)) owner = nullptr;
        MessageBoxW(owner, toWide(plan.message).c_str(), toWide(plan.title).c_str(), plan.icon);
    }
    return plan.exitCode;
}

int endWithDownloadFailure(DownloadFailure failure, const std::string& cause, bool silent,
                           const std::string& support) {
    const std::string& contact = support.empty() ? webHostName() : support;
    return endRun({downloadOutcome(failure), downloadFailureText(uiTexts(), contact, cause)},
                  silent);
}

}  // namespace tessaryn
