#pragma once
// Install and upgrade as one step that either completes or leaves the old version as it was:
// the package is unpacked into a staging folder beside the install folder, and only once every
// file is on the disk does the new folder take the install folder's place, by one rename.
#include <string>

#include "app/run_context_win.h"
#include "system/handles_win.h"

namespace tessaryn {

class StagedInstall {
public:
    StagedInstall(const std::wstring& installDir, const std::string& productName);
    // A staging folder that never took its place is removed with the object.
    ~StagedInstall();
    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;

    // Removes what killed runs of the product left beside the install folder and makes a fresh
    // staging folder. False when it could not be made.
    bool begin();

    // Where the worker unpacks to, with a trailing backslash.
    std::wstring folder() const { return staging_ + L"\\"; }

    // Removes the staging folder; the install folder is left as it is.
    void discard();

    // Tries whether the install folder can be moved aside, by moving it there and back. On
    // Windows a folder cannot be renamed while another program holds it or a file in it (a
    // running program, a console's current folder); its uninstaller could not remove it then
    // either, so the old version is better left whole. True when it moved.
    bool trialMoveOfOldFolder();

    // Renames the staging folder, through the handle held since its creation, to a fresh side
    // name: the rename of the final swap is tried before the old version's uninstaller runs.
    // False when it would not move (the old version is then still whole).
    bool trialMoveOfStaging();

    // Renames the staging folder into the install folder. An install folder that is still there
    // (its uninstaller could not remove it) is first moved aside to a backup folder; when the
    // rename fails after all, the backup is moved back. False when the new folder is not in place.
    bool swapIntoPlace();

    // Removes the backup, now or, for files another program still holds, at the next restart.
    void removeBackup();

private:
    std::wstring installFolder_;  // without a trailing separator
    std::wstring product_;
    std::wstring staging_;
    std::wstring backup_;
    UniqueFile stagingHold_;
    UniqueFile backupHold_;
};

}  // namespace tessaryn
