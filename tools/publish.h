#pragma once
// The publisher's command-line tool: key pairs, packages, signed settings, checks.
#include <string>
#include <vector>

namespace tessaryn {

// args without the program name, UTF-8. Returns the exit code: 0 success, 1 failure, 2 usage.
int runPublish(const std::vector<std::string>& args);

}  // namespace tessaryn
