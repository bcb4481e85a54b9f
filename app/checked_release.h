#pragma once
// The release a run installs or removes: read once from the checked setup information file,
// never changed afterwards.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/block_map.h"
#include "package/file_index.h"
#include "package/release_rules.h"

namespace tessaryn {

struct CheckedRelease {
    std::string productName;
    std::string version;
    std::string eulaText;
    std::string websiteUrl;
    std::string publisher;  // optional, for the uninstall record
    std::string helpUrl;    // optional, the record's "HelpLink"
    std::vector<std::string> initCommands;
    std::vector<std::string> postCommands;
    std::vector<std::string> mirrors;  // further addresses of the package
    bool createDesktopShortcut = false;
    bool metricsEnabled = false;
    // The checked file, signature included: the uninstaller's copy.
    std::vector<uint8_t> signedBytes;
    // The package the settings name (size and SHA-256); empty only in a build that accepts
    // settings without one, and in the uninstaller.
    std::optional<PackageBinding> packageBinding;
    // The hashes of the package's blocks, when the settings name them.
    std::optional<BlockMap> blockMap;
    // The package's files and where each lies in it, when the settings list them: without it
    // an update downloads the whole package.
    std::optional<FileIndex> fileIndex;

    // Where a user gets help with this release: its "help" page, else its "www".
    const std::string& support() const { return helpUrl.empty() ? websiteUrl : helpUrl; }
};

}  // namespace tessaryn
