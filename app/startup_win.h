#pragma once
// Start-up and the stage both roads share: fill the setup state, obtain, check and read the
// setup information file.
#include <optional>
#include <string>

#include "app/run_context_win.h"

namespace tessaryn {

// The largest setup information file taken: it is held in memory whole.
inline constexpr size_t kLargestSettingsFile = 16 * 1024 * 1024;

void initialiseState(const std::string& commandLine, RunContext& context);

// Empty when the run goes on to its road; otherwise the exit code that ends it.
std::optional<int> obtainSettings(RunContext& context);

// The box for a setup information file or package that cannot be trusted (not in a silent run).
void showInvalidDataBox();

// Reports a failed download (event, and a box saying why) and gives -1, for the run to return:
// ending the process here would leave the work folder behind.
int reportDownloadFailure(const std::string& cause);

}  // namespace tessaryn
