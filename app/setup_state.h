#pragma once
// The process-wide record of one setup run: written at start-up, read everywhere afterwards.
#include <string>
#include <vector>

namespace tessaryn {

struct SetupState {
    std::string productName;
    std::string metricsUrl;
    std::string datUrl;
    std::string pakUrl;
    std::vector<std::string> mirrors;  // further addresses of the package, from the settings
    std::string version;
    std::string eulaText;
    std::string websiteUrl;
    std::string publisher;  // optional, for the uninstall record
    std::string helpUrl;    // optional, the record's "HelpLink"
    std::vector<std::string> initCommands;
    std::vector<std::string> postCommands;
    bool createDesktopShortcut = false;
    bool metricsEnabled = false;
    bool verySilent = false;
    bool updaterMode = false;
    bool allowDowngrade = false;
    bool uninstallMode = false;
    std::string serverOverride;  // from "/URL:", with its scheme; empty means the product's host
    std::string machineId;
    std::string userAgent;
};

SetupState& setupState();

// The product's web host, fixed when the program is built.
const std::string& webHostName();

// Scheme and host that every address of the run starts with: the override as given when it
// carries "http://" or "https://", "https://" + override for a bare host, else the web host.
std::string originFor(const std::string& override);
// The same for the override of this run's state.
std::string serverOrigin();

}  // namespace tessaryn
