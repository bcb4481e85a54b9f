#include "tools/settings_check.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "package/entry_name.h"
#include "package/release_rules.h"
#include "system/ascii_text.h"
#include "system/web_address.h"
#include "tools/json_error_text.h"
#include "ui_text_ids.h"

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

enum class Kind { String, StringArray, Boolean, Any };

struct KnownKey {
    const char* name;
    Kind kind;
    bool required;
    const char* what;  // said when a required key is missing or empty
};

// Every key a setup reads. "package" and "expires" are written by sign --package and --expires,
// "mirrors" and "blocks" by the hosting side, "signer" by sign (the setup reads no "signer"); their values are checked where they are made.
constexpr KnownKey kKnownKeys[] = {
    {"prod", Kind::String, true, "the product name, e.g. \"Tessaryn\""},
    {"ver", Kind::String, true, "the version, e.g. \"2.0\", shown as DisplayVersion"},
    {"eula", Kind::String, false, ""},
    {"eulas", Kind::Any, false, ""},
    {"www", Kind::String, false, ""},
    {"publisher", Kind::String, false, ""},
    {"help", Kind::String, false, ""},
    {"init", Kind::StringArray, false, ""},
    {"post", Kind::StringArray, false, ""},
    {"desk", Kind::Boolean, false, ""},
    {"metric", Kind::Boolean, false, ""},
    {"package", Kind::Any, false, ""},
    {"expires", Kind::Any, false, ""},
    {"mirrors", Kind::Any, false, ""},
    {"blocks", Kind::Any, false, ""},
    {"index", Kind::Any, false, ""},
    {"signer", Kind::Any, false, ""},
};

bool knownKey(const std::string& name) {
    for (const KnownKey& key : kKnownKeys) {
        if (name == key.name) return true;
    }
    return false;
}

// Edits (insert, delete, change, swap two neighbours) between a and b, ignoring case.
size_t editDistance(const std::string& a, const std::string& b) {
    const std::string x = lowerCaseAscii(a), y = lowerCaseAscii(b);
    std::vector<std::vector<size_t>> d(x.size() + 1, std::vector<size_t>(y.size() + 1));
    for (size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        for (size_t j = 1; j <= y.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[x.size()][y.size()];
}

// The known key a misspelling most likely meant: a few edits away, or a longer word that
// starts with it ("version" for "ver", "product" for "prod"); null when none is near.
const char* nearestKnownKey(const std::string& name) {
    if (name.size() > 64) return nullptr;
    const char* best = nullptr;
    size_t bestDistance = 0;
    for (const KnownKey& key : kKnownKeys) {
        const std::string known = key.name;
        const size_t distance = editDistance(name, known);
        const size_t allowed = known.size() <= 4 ? 1 : 2;
        if (distance <= allowed && (best == nullptr || distance < bestDistance)) {
            best = key.name;
            bestDistance = distance;
        }
    }
    if (best != nullptr) return best;
    const std::string lower = lowerCaseAscii(name);
    for (const KnownKey& key : kKnownKeys) {
        if (lower.rfind(key.name, 0) == 0) return key.name;
    }
    return nullptr;
}

std::string quoted(const char* key) {
    std::string text = "\"";
    text += key;
    text += '"';
    return text;
}

// The setup leaves out, each with only a log line, a mirror that is no http or https address,
// holds a space or control character, is longer than 2048 bytes, or comes after the eighth;
// signing such a list would promise mirrors no user ever reaches.
void addMirrorProblems(const json& list, std::vector<std::string>& problems) {
    if (!list.is_array()) {
        problems.push_back("\"mirrors\" must be an array of addresses, found " + typeName(list));
        return;
    }
    constexpr size_t kMostMirrors = 8, kLongestMirror = 2048;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string* address = list[i].get_ptr<const std::string*>();
        const bool plain = address && address->size() <= kLongestMirror &&
                           std::none_of(address->begin(), address->end(), [](char c) {
                               return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
                           });
        if (!plain || !isWebAddress(*address))
            problems.push_back("\"mirrors\"[" + std::to_string(i) +
                               "] is no http or https address of at most 2048 bytes without "
                               "spaces: the setup would ignore it");
    }
    if (list.size() > kMostMirrors)
        problems.push_back("\"mirrors\" names " + std::to_string(list.size()) +
                           " addresses; the setup uses only the first 8");
}

// A license for a language the setup cannot speak would never be shown.
void addLicenseProblems(const json& licenses, std::vector<std::string>& problems) {
    if (!licenses.is_object()) {
        problems.push_back("\"eulas\" must be an object of licenses by language, found " +
                           typeName(licenses));
        return;
    }
    for (const auto& item : licenses.items()) {
        // Named, not bound: older compilers cannot capture a structured binding.
        const std::string& tag = item.key();
        const json& text = item.value();
        if (!text.is_string())
            problems.push_back("\"eulas\"[\"" + tag + "\"] must be a string, found " +
                               typeName(text));
        const char* const* known =
            std::find_if(std::begin(kLanguageTags), std::end(kLanguageTags),
                         [&](const char* name) { return equalsIgnoringAsciiCase(tag, name); });
        if (known == std::end(kLanguageTags)) {
            std::string list;
            for (const char* name : kLanguageTags)
                list += (list.empty() ? "" : " ") + std::string(name);
            problems.push_back("\"eulas\" names \"" + tag +
                               "\", which is no language of the setup (" + list + ")");
        }
    }
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

SettingsFindings checkSettings(const std::string& jsonText, bool allowUnknown) {
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::parse_error& error) {
        return {{"not valid JSON at " + jsonErrorText(jsonText, error.byte, error.what())}, {}};
    } catch (const json::exception& error) {
        return {{std::string("not valid JSON: ") + error.what()}, {}};
    }
    if (!root.is_object()) {
        return {{"the top level must be a JSON object { ... }, found " + typeName(root)}, {}};
    }

    SettingsFindings findings;
    std::vector<std::string>& problems = findings.problems;
    for (const KnownKey& key : kKnownKeys) {
        const auto it = root.find(key.name);
        if (it == root.end()) {
            if (key.required) {
                problems.push_back(quoted(key.name) + " is missing (" + key.what + ")");
            }
            continue;
        }
        if (key.kind == Kind::String && !it->is_string()) {
            problems.push_back(quoted(key.name) + " must be a string, found " + typeName(*it));
        } else if (key.kind == Kind::Boolean && !it->is_boolean()) {
            problems.push_back(quoted(key.name) + " must be a boolean, found " + typeName(*it));
        } else if (key.kind == Kind::StringArray && !it->is_array()) {
            problems.push_back(quoted(key.name) + " must be an array of strings, found " +
                               typeName(*it));
        } else if (key.kind == Kind::StringArray) {
            for (size_t i = 0; i < it->size(); ++i) {
                if (!(*it)[i].is_string()) {
                    problems.push_back(quoted(key.name) + "[" + std::to_string(i) +
                                       "] must be a string, found " + typeName((*it)[i]));
                }
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
    if (const auto it = root.find("mirrors"); it != root.end()) addMirrorProblems(*it, problems);
    if (const auto it = root.find("eulas"); it != root.end()) addLicenseProblems(*it, problems);
    const auto prod = root.find("prod");
    if (prod != root.end() && prod->is_string()) {
        if (const std::string why = productNameProblem(prod->get<std::string>()); !why.empty()) {
            problems.push_back("\"prod\" " + why);
        }
    }
    const auto ver = root.find("ver");
    if (ver != root.end() && ver->is_string() && ver->get<std::string>().empty()) {
        problems.push_back("\"ver\" is empty (" + std::string(kKnownKeys[1].what) + ")");
    }
    // The setup ignores keys it does not know, so a misspelt key would silently lose its value.
    for (const auto& item : root.items()) {
        if (knownKey(item.key())) continue;
        std::string text = "unknown key " + quoted(item.key().c_str());
        if (const char* near = nearestKnownKey(item.key())) {
            text += std::string(" (did you mean ") + quoted(near) + "?)";
        }
        if (allowUnknown) {
            findings.notes.push_back(text + ", kept: the setup ignores it");
        } else {
            problems.push_back(text + "; --allow-unknown signs it anyway");
        }
    }
    return findings;
}

std::vector<std::string> settingsProblems(const std::string& jsonText) {
    return checkSettings(jsonText, false).problems;
}

}  // namespace tessaryn
