#include "tools/settings_check.h"

#include <nlohmann/json.hpp>

#include "package/entry_name.h"
#include "package/release_rules.h"

namespace tessaryn {

namespace {

using json = nlohmann::json;

std::string typeName(const json& value) {
    if (value.is_boolean()) return "a boolean";
    if (value.is_number()) return "a number";
    if (value.is_string()) return "a string";
    if (value.is_array()) return "an array";
    if (value.is_object()) return "an object";
    return "null";
}

std::string quoted(const char* key) {
    std::string text = "\"";
    text += key;
    text += '"';
    return text;
}

}  // namespace

std::string productNameProblem(const std::string& name) {
    if (name.empty()) return "is empty";
    if (name == "." || name == "..") return "is \"" + name + "\"";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return "contains a control character";
        if (std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
            return std::string("contains the character '") + static_cast<char>(c) + "'";
        }
    }
    // Windows drops trailing dots and spaces and reserves the device names; the rule is the
    // setup's own, so that every name accepted here is one the setup accepts.
    if (name.back() == '.' || name.back() == ' ') return "ends with a dot or a space";
    if (isReservedDeviceName(name)) return "is a reserved device name";
    return {};
}

std::vector<std::string> settingsProblems(const std::string& jsonText) {
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::exception& error) {
        return {std::string("not valid JSON: ") + error.what()};
    }
    if (!root.is_object()) return {"the top level must be a JSON object, found " + typeName(root)};

    std::vector<std::string> problems;
    const auto prod = root.find("prod");
    if (prod == root.end()) {
        problems.push_back("\"prod\" is missing");
    } else if (!prod->is_string()) {
        problems.push_back("\"prod\" must be a string, found " + typeName(*prod));
    } else if (const std::string why = productNameProblem(prod->get<std::string>()); !why.empty()) {
        problems.push_back("\"prod\" " + why);
    }
    for (const char* key : {"eula", "ver", "www", "publisher", "help"}) {
        const auto it = root.find(key);
        if (it != root.end() && !it->is_string()) {
            problems.push_back(quoted(key) + " must be a string, found " + typeName(*it));
        }
    }
    for (const char* key : {"init", "post"}) {
        const auto it = root.find(key);
        if (it == root.end()) continue;
        if (!it->is_array()) {
            problems.push_back(quoted(key) + " must be an array of strings, found " +
                               typeName(*it));
            continue;
        }
        for (size_t i = 0; i < it->size(); ++i) {
            if (!(*it)[i].is_string()) {
                problems.push_back(quoted(key) + "[" + std::to_string(i) +
                                   "] must be a string, found " + typeName((*it)[i]));
            }
        }
    }
    // Written by `sign --package` and `--expires`; checked as the setup reads them.
    if (const auto it = root.find("package"); it != root.end() && !readPackageBinding(*it)) {
        problems.push_back("\"package\" must be {\"size\": <bytes>, \"sha256\": \"<64 lower-case "
                           "hex digits>\"}");
    }
    if (const auto it = root.find("expires");
        it != root.end() && (!it->is_string() || !parseUtcTime(it->get<std::string>()))) {
        problems.push_back("\"expires\" must be a UTC time such as \"2027-06-30T12:00:00Z\"");
    }
    for (const char* key : {"desk", "metric"}) {
        const auto it = root.find(key);
        if (it != root.end() && !it->is_boolean()) {
            problems.push_back(quoted(key) + " must be a boolean, found " + typeName(*it));
        }
    }
    return problems;
}

}  // namespace tessaryn
