#include "app/staged_install_win.h"

#include "system/folder_swap_win.h"
#include "system/path_parts.h"
#include "system/unicode_win.h"

namespace tessaryn {

StagedInstall::StagedInstall(const std::wstring& installDir, const std::string& productName,
                             bool privateAccess)
    : installFolder_(withoutTrailingSeparator(installDir)),
      product_(toWide(productName)),
      privateAccess_(privateAccess) {}

StagedInstall::~StagedInstall() { discard(); }

bool StagedInstall::begin() {
    removeLeftoverSideFolders(installFolder_, product_);
    // Held from creation to the rename, so that no other run (an uninstaller among them)
    // mistakes it for a leftover and no other program can hold it against the rename.
    stagingHold_ = createStagingFolder(installFolder_, product_, staging_, privateAccess_);
    return static_cast<bool>(stagingHold_);
}

void StagedInstall::discard() {
    // A new folder in place is the install folder now, never a staging folder to remove.
    if (staging_.empty() || inPlace_) return;
    stagingHold_.reset();
    (void)removeFolderNowOrAtRestart(staging_);
    staging_.clear();
}

bool StagedInstall::moveOldAside() {
    backupHold_ = openFolderToMove(installFolder_);
    const std::wstring aside =
        freshSideFolderPath(installFolder_, product_, SideFolderKind::Backup);
    if (!backupHold_ || aside.empty() || !renameHeldFolder(backupHold_.get(), aside)) {
        backupHold_.reset();
        return false;
    }
    backup_ = aside;
    return true;
}

bool StagedInstall::takeInstallName() {
    if (!stagingHold_ || !renameHeldFolder(stagingHold_.get(), installFolder_)) return false;
    inPlace_ = true;
    return true;
}

void StagedInstall::putOldBack() {
    if (inPlace_) {
        const std::wstring away =
            freshSideFolderPath(installFolder_, product_, SideFolderKind::Staging);
        if (!away.empty() && renameHeldFolder(stagingHold_.get(), away)) {
            staging_ = away;
            inPlace_ = false;
        }
    }
    if (!backup_.empty() && !inPlace_ && renameHeldFolder(backupHold_.get(), installFolder_))
        backup_.clear();
    backupHold_.reset();
}

bool StagedInstall::openToUsers() { return inheritParentAccess(installFolder_); }

void StagedInstall::commit() {
    stagingHold_.reset();
    staging_.clear();
    inPlace_ = false;
    if (backup_.empty()) return;
    // Held on, but so that commands may start in it.
    backupHold_.reset();
    backupHold_ = holdFolder(backup_);
}

void StagedInstall::removeOld() {
    backupHold_.reset();
    if (backup_.empty()) return;
    (void)removeFolderNowOrAtRestart(backup_);
    backup_.clear();
}

}  // namespace tessaryn
