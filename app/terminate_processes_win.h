#pragma once
#include <string>

namespace tessaryn {

// Ends every process whose executable lies in the folder (UTF-8 path), except this one.
void terminateProcessesInDirectory(const std::string& directory);

}  // namespace tessaryn
