#pragma once
// Checks of a setup information file before it is signed: the keys the setup reads must have
// the types it expects, and the product name must be usable as a folder name.
#include <string>
#include <vector>

namespace tessaryn {

// Why the name cannot serve as the product's folder and registry name; empty when it can.
std::string productNameProblem(const std::string& name);

// One line per problem; empty when the file can be signed.
std::vector<std::string> settingsProblems(const std::string& jsonText);

}  // namespace tessaryn
