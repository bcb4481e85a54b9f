#pragma once
// The three manifests (version, defaultLocale, installer) with which a package manager installs
// one release through the setup program.
#include <string>
#include <string_view>
#include <vector>

namespace tessaryn {

struct WingetRelease {
    std::string identifier;   // "Publisher.Product"
    std::string product;      // the settings' "prod": the record's DisplayName and key name
    std::string version;      // "ver": the record's DisplayVersion
    std::string publisher;    // "publisher": the record's Publisher
    std::string website;      // "www", optional
    std::string help;         // "help", optional
    std::string setupUrl;     // where the signed setup program is served
    std::string setupSha256;  // its SHA-256, 64 hex digits
    std::string license;
    std::string description;
    bool elevatesSelf = false;  // the setup asks for elevation itself, else it must be given it
};

struct WingetManifests {
    std::string version;
    std::string defaultLocale;
    std::string installer;
};

// A YAML double-quoted scalar: quotes, backslashes and control characters escaped, so that no
// value (a version "1.10", "yes", a text with ": ") is read as anything but a string.
std::string yamlQuoted(std::string_view text);

// The exit codes a manifest lists, with the response of each: every non-zero code of the run's
// outcome table whose first row names one, in the table's order.
struct ReturnCode {
    int code;
    std::string response;
};
std::vector<ReturnCode> wingetReturnCodes();

WingetManifests wingetManifests(const WingetRelease& release);

}  // namespace tessaryn
