#include "tools/winget_manifest.h"

#include <cstdio>
#include <set>

#include "app/run_outcome.h"

namespace tessaryn {
namespace {

constexpr const char* kManifestVersion = "1.10.0";
constexpr const char* kLocale = "en-US";

std::string header(const WingetRelease& release, const char* type) {
    return "# " + std::string(type) + " manifest of " + release.product + " " + release.version +
           ", written by tessaryn-publish winget\n"
           "PackageIdentifier: " + yamlQuoted(release.identifier) + "\n"
           "PackageVersion: " + yamlQuoted(release.version) + "\n";
}

std::string footer(const char* type) {
    return std::string("ManifestType: ") + yamlQuoted(type) + "\nManifestVersion: " +
           yamlQuoted(kManifestVersion) + "\n";
}

std::string optionalLine(const char* key, const std::string& value) {
    return value.empty() ? std::string() : std::string(key) + ": " + yamlQuoted(value) + "\n";
}

}  // namespace

std::string yamlQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::vector<ReturnCode> wingetReturnCodes() {
    std::vector<ReturnCode> codes;
    std::set<int> seen;
    for (const OutcomeRow& row : outcomeTable()) {
        // A code's meaning is its first row's; later rows of the code only refine the message.
        if (row.exitCode == 0 || !seen.insert(row.exitCode).second) continue;
        if (row.wingetResponse) codes.push_back({row.exitCode, row.wingetResponse});
    }
    return codes;
}

WingetManifests wingetManifests(const WingetRelease& release) {
    WingetManifests out;
    out.version = header(release, "version") + "DefaultLocale: " + yamlQuoted(kLocale) + "\n" +
                  footer("version");
    out.defaultLocale = header(release, "defaultLocale") + "PackageLocale: " +
                        yamlQuoted(kLocale) + "\n" + "Publisher: " +
                        yamlQuoted(release.publisher) + "\n" +
                        optionalLine("PublisherSupportUrl", release.help) +
                        "PackageName: " + yamlQuoted(release.product) + "\n" +
                        optionalLine("PackageUrl", release.website) +
                        "License: " + yamlQuoted(release.license) + "\n" +
                        "ShortDescription: " + yamlQuoted(release.description) + "\n" +
                        footer("defaultLocale");
    std::string codes;
    for (const ReturnCode& code : wingetReturnCodes())
        codes += "  - InstallerReturnCode: " + std::to_string(code.code) +
                 "\n    ReturnResponse: " + yamlQuoted(code.response) + "\n";
    std::string& i = out.installer;
    i = header(release, "installer");
    i += "InstallerType: \"exe\"\nScope: \"machine\"\n";
    i += "InstallModes:\n  - \"interactive\"\n  - \"silent\"\n  - \"silentWithProgress\"\n";
    // /VERSION makes the setup install this release and no other, whatever the host serves
    // as its current one by the time the manifest is used.
    i += "InstallerSwitches:\n  Silent: " + yamlQuoted("/VERYSILENT") + "\n  SilentWithProgress: " +
         yamlQuoted("/SILENT") + "\n  Log: " + yamlQuoted("/LOG=\"<LOGPATH>\"") +
         "\n  Custom: " + yamlQuoted("/VERSION=" + release.version) + "\n";
    i += "UpgradeBehavior: \"install\"\n";
    i += "ElevationRequirement: " +
         yamlQuoted(release.elevatesSelf ? "elevatesSelf" : "elevationRequired") + "\n";
    i += "ExpectedReturnCodes:\n" + codes;
    // What the setup writes into its uninstall record, so that the installed version is found.
    i += "AppsAndFeaturesEntries:\n  - DisplayName: " + yamlQuoted(release.product) + "\n";
    if (!release.publisher.empty()) i += "    Publisher: " + yamlQuoted(release.publisher) + "\n";
    i += "    DisplayVersion: " + yamlQuoted(release.version) + "\n    ProductCode: " +
         yamlQuoted(release.product) + "\n";
    i += "Installers:\n  - Architecture: \"x64\"\n    InstallerUrl: " +
         yamlQuoted(release.setupUrl) + "\n    InstallerSha256: " +
         yamlQuoted(release.setupSha256) + "\n";
    i += footer("installer");
    return out;
}

}  // namespace tessaryn
