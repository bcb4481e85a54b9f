#include "tools/release_sign.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "package/locked_file.h"
#include "package/path_text.h"
#include "package/sha256.h"
#include "system/ascii_text.h"
#include "tools/index_build.h"
#include "tools/inspect.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

using ordered = nlohmann::ordered_json;

ordered parseObject(const std::string& text) {
    ordered root = ordered::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object()) throw std::runtime_error("the settings are not a JSON object");
    return root;
}

std::string stringOf(const ordered& root, const char* key) {
    const auto it = root.find(key);
    return it != root.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The settings' file index, shown; a malformed one is a problem.
std::optional<FileIndex> readIndex(const ordered& root,
                                   const std::optional<PackageBinding>& binding,
                                   PairReport& report) {
    const auto it = root.find("index");
    if (it == root.end()) {
        report.lines.push_back("index: none (an update downloads the whole package)");
        return std::nullopt;
    }
    std::optional<FileIndex> index;
    if (binding) index = readFileIndex(nlohmann::json::parse(it->dump()), *binding);
    if (!index) {
        report.problems.push_back("\"index\" is malformed");
        return std::nullopt;
    }
    report.lines.push_back(indexSummaryText(*index));
    report.index = indexSummary(*index);
    return index;
}

}  // namespace

PackageBinding bindingOfFile(const fs::path& path) {
    const std::optional<LockedFile> view = LockedFile::open(pathText(path));
    if (!view) throw std::runtime_error("cannot read " + pathText(path));
    Sha256 hash;
    hash.add(view->data(), view->size());
    const std::optional<Sha256Digest> digest = hash.finish();
    if (!digest) throw std::runtime_error("no SHA-256 for " + pathText(path));
    return {view->size(), *digest};
}

std::optional<std::string> settingsExpiry(const std::string& settingsText) {
    const ordered root = parseObject(settingsText);
    const auto it = root.find("expires");
    if (it == root.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string expiryFromOption(const std::string& option, int64_t now) {
    std::optional<int64_t> at;
    if (option.size() >= 2 && option.size() <= 6 && option.back() == 'd' &&
        option.find_first_not_of("0123456789") == option.size() - 1) {
        at = now + std::stoll(option.substr(0, option.size() - 1)) * 86400;
    } else if (option.size() == 10) {
        at = parseUtcTime(option + "T23:59:59Z");
    } else {
        at = parseUtcTime(option);
    }
    if (!at) {
        throw std::invalid_argument("--expires must be a number of days (30d), a date "
                                    "(2027-06-30) or a UTC time (2027-06-30T12:00:00Z)");
    }
    if (*at <= now) throw std::invalid_argument("--expires " + option + " is not in the future");
    return formatUtcTime(*at);
}

std::vector<std::string> packageProblems(const std::string& settingsText,
                                         const LockedFile& package, const fs::path& path,
                                         const PublicKey& key) {
    const ordered root = parseObject(settingsText);
    std::vector<std::string> problems;
    if (!verifySignedBytes(package.data(), package.size(), kPackageContext, key))
        return {pathText(path) + " is not a package signed with this key"};
    const PackageListing listing = *inspectPackage(package.data(), package.size(), path, nullptr);
    const std::string version = stringOf(root, "ver");
    if (listing.version != version) {
        problems.push_back("\"ver\" is \"" + version + "\" but the package holds version \"" +
                           listing.version + "\"");
    }
    const std::string program = lowerCaseAscii(stringOf(root, "prod")) + ".exe";
    bool found = false;
    for (const ListedEntry& entry : listing.entries)
        found = found || (!entry.directory && lowerCaseAscii(entry.name) == program);
    if (!found) problems.push_back("the package has no main program " + program);
    return problems;
}

std::string bindSettings(const std::string& settingsText, const PackageBinding& binding,
                         const std::optional<std::string>& expires, const std::string& signer) {
    ordered root = parseObject(settingsText);
    root["package"] = ordered{{"size", binding.size}, {"sha256", sha256Hex(binding.sha256)}};
    root["signer"] = signer;
    if (expires)
        root["expires"] = *expires;
    else
        root.erase("expires");
    return root.dump(2) + "\n";
}

PairReport pairReport(const std::string& settingsText, const fs::path& package, int64_t now) {
    PairReport report;
    const ordered root = parseObject(settingsText);
    report.lines.push_back("product " + stringOf(root, "prod") + ", version " +
                           stringOf(root, "ver"));
    const auto bound = root.find("package");
    std::optional<PackageBinding> binding;
    if (bound != root.end()) binding = readPackageBinding(nlohmann::json::parse(bound->dump()));
    if (bound == root.end()) {
        report.lines.push_back("package: none named (the setup refuses these settings)");
        report.problems.push_back("the settings name no package");
    } else if (!binding) {
        report.problems.push_back("\"package\" is malformed");
    } else {
        report.lines.push_back("package: " + std::to_string(binding->size) + " bytes, SHA-256 " +
                               sha256Hex(binding->sha256));
    }
    const std::string expires = stringOf(root, "expires");
    if (root.contains("expires")) {
        const std::optional<int64_t> at = parseUtcTime(expires);
        if (!at) {
            report.problems.push_back("\"expires\" is not a UTC time (YYYY-MM-DDTHH:MM:SSZ)");
        } else {
            report.lines.push_back("expires: " + expires + (*at < now ? " (expired)" : ""));
            if (*at < now) report.problems.push_back("the settings expired at " + expires);
        }
    } else {
        report.lines.push_back("expires: never");
    }
    const std::optional<FileIndex> index = readIndex(root, binding, report);
    if (package.empty() || !binding) return report;
    const PackageBinding actual = bindingOfFile(package);
    if (actual.size != binding->size || actual.sha256 != binding->sha256) {
        report.problems.push_back(pathText(package) + " is not the package the settings name (" +
                                  std::to_string(actual.size) + " bytes, SHA-256 " +
                                  sha256Hex(actual.sha256) + ")");
        return report;
    }
    const PackageListing listing = listPackage(package);
    if (listing.version != stringOf(root, "ver"))
        report.problems.push_back("the package holds version " + listing.version);
    if (index) {
        const std::optional<LockedFile> view = LockedFile::open(pathText(package));
        if (!view) throw std::runtime_error("cannot read " + pathText(package));
        const BuiltIndex made = buildFileIndex(view->data(), view->size());
        const std::string why =
            made.index ? indexDisagreement(*index, *made.index, view->data(), view->size())
                       : made.whyNone;
        if (!why.empty()) report.problems.push_back("\"index\" disagrees with the package: " + why);
    }
    return report;
}

}  // namespace tessaryn
