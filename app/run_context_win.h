#pragma once
// What the start-up works out for the two roads: file locations and the kept signature.
#include <windows.h>

#include <string>

#include "package/signed_file.h"

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
    std::string installDirUtf8;
    Signature datSignature{};   // kept to re-sign the installed "unins000.dat"
};

// Exit codes of the process.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitDeclined = 1;
inline constexpr int kExitFailure = -1;

}  // namespace tessaryn
