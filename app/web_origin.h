#pragma once
// The web host every address of a run starts with.
#include <string>

namespace tessaryn {

// The product's web host, fixed when the program is built.
const std::string& webHostName();

// Scheme and host that every address of the run starts with: the override as given when it
// carries "http://" or "https://", "https://" + override for a bare host, else the web host.
std::string originFor(const std::string& override);

}  // namespace tessaryn
