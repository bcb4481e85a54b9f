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
    // Held from creation to the rename, so that no other run (the old uninstaller among them)
    // mistakes it for a leftover and no other program can hold it against the rename.
    stagingHold_ = createStagingFolder(installFolder_, product_, staging_);
    return static_cast<bool>(stagingHold_);
}

void StagedInstall::discard() {
    if (staging_.empty()) return;
    stagingHold_.reset();
    (void)removeFolderNowOrAtRestart(staging_);
    staging_.clear();
}

bool StagedInstall::trialMoveOfStaging() {
    if (!stagingHold_) return false;
    const std::wstring trial =
        freshSideFolderPath(installFolder_, product_, SideFolderKind::Staging);
    if (trial.empty() || !renameHeldFolder(stagingHold_.get(), trial)) return false;
    staging_ = trial;
    return true;
}

bool StagedInstall::trialMoveOfOldFolder() {
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
    if (stagingHold_ && renameHeldFolder(stagingHold_.get(), installFolder_)) {
        stagingHold_.reset();
        staging_.clear();
        return true;
    }
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
