#pragma once
// The short description of the running system that goes into the HTTP user agent.
#include <string>

namespace tessaryn {

// "10 Build " + the build number from the registry, or "10" when it cannot be read.
std::wstring getOsVersion();
// "Windows " + version + "; " + architecture + "; " + locale name.
std::wstring getSystemDescription();
// "x86", "x64", "ARM64" or "Unknown" for a PROCESSOR_ARCHITECTURE_* value.
std::wstring architectureName(unsigned architecture);

}  // namespace tessaryn
