#pragma once
// The scope of the run's private work folder: made at start-up in the Windows folder's Temp
// (administrators only), held against renaming while the run lasts, and removed with everything
// in it when the run ends, on every road that returns. (The uninstaller, which ends the process
// itself, leaves its removal to its clean-up script.)
#include <windows.h>

#include <string>

#include "system/handles_win.h"
#include "system/private_folder_win.h"
#include "system/removal_win.h"

namespace tessaryn {

class WorkFolder {
  public:
    // `inUserTemp`: an unelevated run of the user's own install, which crosses no privilege
    // boundary, works in the user's %TEMP% with the access it hands on.
    explicit WorkFolder(bool inUserTemp)
        : path_(inUserTemp ? createPrivateFolder(userTempFolder(), randomFolderName, false)
                           : createPrivateFolder(windowsTempFolder(), randomFolderName)),
          // Without delete sharing: while it is held, the folder cannot be renamed or replaced.
          hold_(::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr)) {}
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder() {
        hold_.reset();
        (void)deleteDirectoryTree(path_.substr(0, path_.size() - 1));
    }

    // Ends with a separator.
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
    UniqueFile hold_;
};

}  // namespace tessaryn
