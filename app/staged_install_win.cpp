#include "app/staged_install_win.h"

#include "system/folder_swap_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

StagedInstall::StagedInstall(const std::wstring& installDir, const std::string& productName)
    : installFolder_(withoutTrailingSeparator(installDir)), product_(toWide(productName)) {}

StagedInstall::~StagedInstall() { discard(); }

bool StagedInstall::begin() {
    removeLeftoverSideFolders(installFolder_, product_);
    staging_ = createStagingFolder(installFolder_, product_);
    if (staging_.empty()) return false;
    // Held from here to the rename, so that no other run (the old uninstaller among them)
    // mistakes it for a leftover.
    stagingHold_ = holdFolder(staging_);
    return true;
}

void StagedInstall::discard() {
    if (staging_.empty()) return;
    stagingHold_.reset();
    (void)removeFolderNowOrAtRestart(staging_);
    staging_.clear();
}

bool StagedInstall::oldFolderMovable() {
    const std::wstring trial =
        freshSideFolderPath(installFolder_, product_, SideFolderKind::Backup);
    if (trial.empty() || !moveFolder(installFolder_, trial)) return false;
    if (moveFolder(trial, installFolder_)) return true;
    // It would not move back: it stays aside as the backup, and the new folder takes its place.
    backup_ = trial;
    backupHold_ = holdFolder(backup_);
    return true;
}

bool StagedInstall::swapIntoPlace() {
    if (staging_.empty()) return false;
    if (exists(installFolder_)) {
        backup_ = freshSideFolderPath(installFolder_, product_, SideFolderKind::Backup);
        if (backup_.empty() || !moveFolder(installFolder_, backup_)) {
            backup_.clear();
            return false;
        }
        backupHold_ = holdFolder(backup_);
    }
    stagingHold_.reset();
    if (moveFolder(staging_, installFolder_)) {
        staging_.clear();
        return true;
    }
    stagingHold_ = holdFolder(staging_);
    if (!backup_.empty()) {
        backupHold_.reset();
        if (moveFolder(backup_, installFolder_)) backup_.clear();
    }
    return false;
}

void StagedInstall::removeBackup() {
    if (backup_.empty()) return;
    backupHold_.reset();
    (void)removeFolderNowOrAtRestart(backup_);
    backup_.clear();
}

}  // namespace tessaryn
