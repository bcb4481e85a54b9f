#pragma once
// The short description of the running system that goes into the HTTP user agent.
#include <string>

namespace tessaryn {

// "10 Build " + the build number from the registry, or "10" when it cannot be read.
std::wstring getOsVersion();
// "Windows " + version + "; " + architecture + "; " + locale name.
std::wstring getSystemDescription();

}  // namespace tessaryn
