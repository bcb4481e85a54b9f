#pragma once
// What the start-up works out for the two roads: file locations and the checked files.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/block_map.h"
#include "package/locked_file.h"
#include "package/release_rules.h"

namespace tessaryn {

struct RunContext {
    int showCommand = 0;        // passed to ShowWindow for the progress windows
    std::wstring workDir;       // the run's private work folder, ends with a backslash
    HANDLE programFile = INVALID_HANDLE_VALUE;  // this program's file, held for the run
    std::wstring localDat;      // beside the program
    std::wstring tempDat;       // copy in the temporary work folder
    std::wstring localPak;
    std::wstring tempPak;
    std::wstring installDir;    // ends with a backslash
    std::vector<uint8_t> signedSettings;  // the checked setup information file, signature included
    LockedFile package;         // the checked package, locked until unpacking has ended
    // The package the settings name (size and SHA-256); empty only in a build that accepts
    // settings without one.
    std::optional<PackageBinding> packageBinding;
    // The hashes of the package's blocks, when the settings name them.
    std::optional<BlockMap> blockMap;
};

// Exit codes of the process.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitDeclined = 1;
inline constexpr int kExitFailure = -1;
// A release older than the installed version, refused (/ALLOWDOWNGRADE installs it).
inline constexpr int kExitDowngradeRefused = 3;
// Settings past their "expires" time.
inline constexpr int kExitSettingsExpired = 4;

}  // namespace tessaryn
