#pragma once
// Opening the run's log file on Windows.
#include <string>

namespace tessaryn {

// Opens the log: the named file (UTF-8; made or emptied), or, for an empty name, a new
// "<product> Setup Log <date> #NNN.txt" in the Windows folder's Temp that no earlier file bears. A file
// that cannot be made, or a named one that is a link or has other names (hard links), gives no
// log and false.
[[nodiscard]] bool openRunLog(const std::string& fileName, const std::string& productName);

}  // namespace tessaryn
