#pragma once
// Start-up and the stage both roads share: locate the run's resources, obtain, check and read
// the setup information file.
#include <string>
#include <variant>

#include "app/checked_release.h"
#include "app/command_line.h"
#include "app/run_context_win.h"

namespace tessaryn {

// The largest setup information file taken: it is held in memory whole.
inline constexpr size_t kLargestSettingsFile = 16 * 1024 * 1024;

// The run's resources: addresses (with the options' "/URL:"), file names beside the program and
// in the work folder, the install folder, the identifiers sent with every request.
RunContext startRun(const CommandLineOptions& options, HANDLE programFile,
                    const std::wstring& workDir, int showCommand, const ScopePlan& plan);

// The product's folder for the scope, with a trailing separator: under Program Files, or under
// the user's own programs folder.
std::wstring installFolderFor(Scope scope);

// The checked release the run goes on with, or the exit code of its end (already reported).
// Switches events on, from the release just read. May drop `context.localPak` when the web host
// names another release than the files beside the setup.
std::variant<CheckedRelease, int> obtainSettings(const CommandLineOptions& options,
                                                 RunContext& context);

}  // namespace tessaryn
