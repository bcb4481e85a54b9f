#pragma once
// The program's own location, running other programs, and ending those in a folder.
#include <string>
#include <vector>

namespace tessaryn {

// Full path of the running program; empty on failure.
std::wstring getModulePath();
// The program's file name up to its first ".".
std::wstring getModuleBaseName();
// The program's folder, without a trailing separator.
std::wstring getModuleDirectory();

// Runs "cmd.exe /c " + command (UTF-8) hidden in the working folder (UTF-8; empty for the
// current one) and waits for it. True only when it ran and ended with exit code 0.
[[nodiscard]] bool runHidden(const std::string& command, const std::string& workingFolder);
// Runs each command in order; a failed one does not stop the rest.
void runCommands(const std::vector<std::string>& commands, const std::string& workingFolder);
// Opens a document, folder or address (UTF-8) with its associated program.
[[nodiscard]] bool openWithShell(const std::string& target);

// Ends every process whose executable lies in the folder (UTF-8 path), except this one.
void terminateProcessesInDirectory(const std::string& directory);

}  // namespace tessaryn
