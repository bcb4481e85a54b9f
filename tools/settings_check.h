#pragma once
// Checks of a setup information file before it is signed: the required keys are there, every key
// is one the setup reads, the values have the types it expects, and the product name is usable
// as a folder name.
#include <string>
#include <vector>

namespace tessaryn {

// Why the name cannot serve as the product's folder and registry name; empty when it can.
std::string productNameProblem(const std::string& name);

struct SettingsFindings {
    std::vector<std::string> problems;  // one line each; any of them refuses signing
    std::vector<std::string> notes;     // told, but signed anyway
};

// allowUnknown: keys no setup reads are noted instead of refused.
SettingsFindings checkSettings(const std::string& jsonText, bool allowUnknown);

// The problems of checkSettings(jsonText, false).
std::vector<std::string> settingsProblems(const std::string& jsonText);

}  // namespace tessaryn
