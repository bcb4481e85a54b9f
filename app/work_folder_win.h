#pragma once
// The scope of the run's private work folder: made at start-up, removed with everything in it
// when the run ends, on every road that returns. (The uninstaller, which ends the process
// itself, leaves its removal to its clean-up script.)
#include <string>

#include "system/private_folder_win.h"
#include "system/removal_win.h"

namespace tessaryn {

class WorkFolder {
  public:
    WorkFolder() : path_(createPrivateFolder(temporaryFolder(), randomFolderName)) {}
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder() { (void)deleteDirectoryTree(path_.substr(0, path_.size() - 1)); }

    // Ends with a separator.
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

}  // namespace tessaryn
