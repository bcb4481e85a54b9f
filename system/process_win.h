#pragma once
// The program's own location, running other programs, and ending those in a folder.
#include <chrono>
#include <string>
#include <vector>

#include "system/machine_environment_win.h"

namespace tessaryn {

// Full path of the running program; empty on failure.
std::wstring getModulePath();
// The program's file name up to its first ".".
std::wstring getModuleBaseName();
// The program's folder, without a trailing separator.
std::wstring getModuleDirectory();

// Longest a set-up or clean-up command may run before it is ended.
constexpr std::chrono::minutes kCommandLimit{10};

// Runs "cmd.exe /d /c " + command (UTF-8) hidden in the working folder (empty for the current
// one) with the environment block (machineEnvironment) and waits for it, at most `limit`. True
// only when it ran and ended with exit code 0; one that takes longer is ended with every
// process it started.
[[nodiscard]] bool runHidden(const std::string& command, const std::wstring& workingFolder,
                             const std::wstring& environment,
                             std::chrono::milliseconds limit = kCommandLimit);
// Runs each command in order; a failed one does not stop the rest.
void runCommands(const std::vector<std::string>& commands, const std::wstring& workingFolder,
                 const std::wstring& environment);

// Ends every process whose executable lies in the folder, except this one.
void terminateProcessesInDirectory(const std::wstring& directory);

}  // namespace tessaryn
