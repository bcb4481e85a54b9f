#pragma once
// The run's resources: what start-up opens and locates for the two roads, held for the run.
#include <windows.h>

#include <string>

#include "app/install_scope.h"
#include "app/installer_urls.h"
#include "package/locked_file.h"

namespace tessaryn {

struct RunContext {
    int showCommand = 0;        // passed to ShowWindow for the progress windows
    bool uninstaller = false;   // this program is named as the uninstaller
    Scope scope = Scope::PerMachine;
    // An elevated process on the user's road: a link in the user's folders stops the run.
    bool guardUserFolders = false;
    // No switch and nothing installed: the license window offers the user's own install.
    bool mayOfferPerUser = false;
    std::wstring workDir;       // the run's private work folder, ends with a backslash
    HANDLE programFile = INVALID_HANDLE_VALUE;  // this program's file, held for the run
    InstallerUrls urls;         // the primary addresses, with a "/URL:" override applied
    std::string machineId;
    std::string userAgent;
    std::wstring localDat;      // beside the program
    std::wstring tempDat;       // copy in the temporary work folder
    std::wstring localPak;
    std::wstring tempPak;
    std::wstring installDir;    // ends with a backslash
    LockedFile package;         // the checked package, locked until unpacking has ended
};

}  // namespace tessaryn
