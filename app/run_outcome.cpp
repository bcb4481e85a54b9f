#include "app/run_outcome.h"

namespace tessaryn {

namespace {

using E = UsageEvent;
using I = BoxIcon;
using T = Text;

// A new outcome is one row, its title and text ids of resources/strings/en.txt (a line in each
// language's file there); a new exit code is a row with its /? lines (ids too, and a README
// line).
const std::vector<OutcomeRow> kTable = {
    {Outcome::Finished, 0, {}, "finished", T::None, T::None, I::None, false, T::help_code_finished,
     T::help_code_removed},
    {Outcome::UninstallCompleted, 0, {}, "uninstall completed", T::outcome_uninstall_title,
     T::outcome_uninstall_completed, I::Information, false, T::None, T::None},
    {Outcome::NothingToRemove, 0, {}, "nothing to remove", T::outcome_uninstall_title,
     T::outcome_nothing_to_remove, I::Information, false, T::None, T::None},
    {Outcome::Declined, 1, {}, "declined", T::None, T::None, I::None, false,
     T::help_code_declined, T::help_code_not_confirmed, "cancelledByUser"},
    {Outcome::HostEnded, 2, {}, "ended by the web host", T::None, T::None, I::None, false,
     T::help_code_host_ended, T::help_code_host_ended_uninstall, "custom"},
    {Outcome::OlderVersion, 3, {}, "older than installed", T::outcome_older_title,
     T::outcome_older, I::Error, false, T::help_code_older, T::None, "downgrade"},
    {Outcome::BelowFloor, 3, {}, "below the release floor", T::outcome_older_title,
     T::outcome_below_floor, I::Error, false, T::None, T::None},
    {Outcome::Expired, 4, {}, "settings expired", T::outcome_expired_title, T::outcome_expired,
     I::Error, true, T::help_code_expired, T::None, "contactSupport"},
    // The old version stays installed as it was: a retry once the program is closed succeeds.
    {Outcome::FilesInUse, 5, E::InstallFailed, "files in use", T::outcome_files_in_use_title,
     T::outcome_files_in_use, I::Error, false, T::help_code_files_in_use, T::None,
     "packageInUse"},
    {Outcome::NoNetwork, 6, E::DownloadFailed, "no network", T::outcome_error_title,
     T::outcome_detail, I::Error, false, T::help_code_no_network, T::None, "noNetwork"},
    {Outcome::InvalidSignature, 7, E::SignatureInvalid, "invalid signature",
     T::outcome_signature_title, T::outcome_redownload, I::Error, false, T::help_code_invalid,
     T::help_code_damaged, "contactSupport"},
    {Outcome::SettingsMalformed, 7, E::SignatureInvalid, "settings malformed",
     T::outcome_malformed_title, T::outcome_malformed_no_package, I::Error, true, T::None,
     T::None},
    {Outcome::OtherProduct, 7, E::SignatureInvalid, "settings of another product",
     T::outcome_wrong_info_title, T::outcome_other_product, I::Error, true, T::None, T::None},
    // /VERSION asked for one release and the host named another: installing it would not be
    // what the administrator asked for.
    {Outcome::WrongVersion, 7, E::SignatureInvalid, "not the version asked for",
     T::outcome_wrong_version_title, T::outcome_wrong_version, I::Error, true, T::None,
     T::None},
    {Outcome::PackageMismatch, 7, E::SignatureInvalid, "package of another release",
     T::outcome_mismatch_title, T::outcome_mismatch_version, I::Error, true, T::None, T::None},
    // Two copies would fight over shortcuts and updates: neither is changed until one is chosen.
    {Outcome::BothScopesInstalled, 8, {}, "both scopes installed", T::outcome_two_installs_title,
     T::outcome_both_scopes, I::Error, false, T::help_code_both_scopes,
     T::help_code_both_scopes, "custom"},
    {Outcome::NeedsAdministrator, 9, {}, "needs an administrator", T::outcome_admin_title,
     T::outcome_admin_refused, I::Error, false, T::help_code_admin, T::help_code_admin,
     "blockedByPolicy"},
    // Before anything else: a typo must not leave a run waiting for a question nobody sees.
    {Outcome::UnknownSwitch, 87, {}, "unknown switch", T::outcome_setup_title,
     T::outcome_unknown_switch, I::Error, false, T::help_code_unknown_switch,
     T::help_code_unknown_switch_uninstall, "invalidParameter"},
    {Outcome::DiskFull, 112, E::InstallFailed, "not enough disk space",
     T::outcome_disk_full_title, T::outcome_disk_full, I::Error, false, T::help_code_disk_full,
     T::None, "diskFull"},
    // Nothing is read or written yet, so no event: the other run reports its own.
    {Outcome::InstallInProgress, 1618, {}, "another setup is running", T::outcome_setup_title,
     T::outcome_in_progress, I::Information, false, T::help_code_in_progress,
     T::help_code_in_progress, "installInProgress"},
    // The uninstaller's own copy: no event, as the record it came with is gone by now.
    {Outcome::UninstallerForeign, -1, {}, "uninstaller settings of another product",
     T::outcome_wrong_info_title, T::outcome_uninstaller_foreign, I::Error, false, T::None,
     T::help_code_foreign},
    {Outcome::UninstallerInfoMissing, -1, {}, "uninstaller settings missing",
     T::outcome_error_title, T::outcome_uninstaller_info_missing, I::Error, false, T::None,
     T::None},
    // The record stays, and so do the files and the uninstaller: a second try can finish.
    {Outcome::UninstallIncomplete, -1, {}, "uninstall record not removed", T::outcome_error_title,
     T::outcome_uninstall_incomplete, I::Error, false, T::None, T::None},
    {Outcome::DownloadFailed, -1, E::DownloadFailed, "download failed", T::outcome_error_title,
     T::outcome_detail, I::Error, false, T::help_code_other, T::None},
    {Outcome::InstallFailed, -1, E::InstallFailed, "installation failed", T::outcome_error_title,
     T::outcome_detail, I::Error, false, T::None, T::None},
    {Outcome::Unexpected, -1, {}, "unexpected error", T::outcome_error_title,
     T::outcome_unexpected, I::Error, false, T::None, T::None},
};

}  // namespace

const std::vector<OutcomeRow>& outcomeTable() {
    return kTable;
}

const OutcomeRow& outcomeRow(Outcome outcome) {
    for (const OutcomeRow& row : kTable)
        if (row.outcome == outcome) return row;
    return kTable.back();
}

EndPlan planEnd(const RunEnd& end, bool silent, const std::string& support,
                const UiTexts& texts) {
    const OutcomeRow& row = outcomeRow(end.outcome);
    EndPlan plan;
    plan.exitCode = row.exitCode;
    plan.event = row.event;
    plan.logLine = std::string("Outcome: ") + row.logName + ", exit code " +
                   std::to_string(row.exitCode);
    if (row.text == Text::None) return plan;
    const Text text = end.text != Text::None ? end.text : row.text;
    plan.message =
        end.values.empty() ? texts.fill(text, end.detail) : texts.fillIn(text, end.values);
    if (row.supportHint && !support.empty())
        plan.message += texts.fill(Text::outcome_support, support);
    plan.title = texts(row.title);
    plan.showBox = !silent;
    plan.icon = static_cast<uint32_t>(row.icon) | (texts.rightToLeft() ? kRightToLeftBoxBits : 0);
    return plan;
}

namespace {

std::string megabytes(uint64_t bytes, bool roundUp) {
    constexpr uint64_t kMegabyte = 1024 * 1024;
    return std::to_string(bytes / kMegabyte + (roundUp && bytes % kMegabyte != 0 ? 1 : 0));
}

}  // namespace

RunEnd olderVersionEnd(const std::string& product, const std::string& installed,
                       const std::string& offered) {
    return RunEnd::told(Outcome::OlderVersion, Text::outcome_older, {product, installed, offered});
}

RunEnd malformedSettingsEnd(const std::string& field) {
    if (field.empty())
        return RunEnd::told(Outcome::SettingsMalformed, Text::outcome_malformed_no_package);
    return RunEnd::told(Outcome::SettingsMalformed, Text::outcome_malformed_field, {field});
}

RunEnd wrongVersionEnd(const std::string& named, const std::string& asked) {
    return RunEnd::told(Outcome::WrongVersion, Text::outcome_wrong_version, {named, asked});
}

RunEnd packageVersionEnd(const std::optional<std::string>& held, const std::string& named) {
    // A package without a version shows a mark no language has to translate.
    return RunEnd::told(Outcome::PackageMismatch, Text::outcome_mismatch_version,
                        {held.value_or("?"), named});
}

RunEnd packageIndexEnd(const std::string& disagreement) {
    return RunEnd::told(Outcome::PackageMismatch, Text::outcome_mismatch_index, {disagreement});
}

RunEnd bothScopesEnd(const std::string& product, const std::string& userFolder,
                     const std::string& machineFolder) {
    return RunEnd::told(Outcome::BothScopesInstalled, Text::outcome_both_scopes,
                        {product, userFolder, machineFolder});
}

RunEnd needsAdministratorEnd(ElevationRefusal why, unsigned long error) {
    switch (why) {
        case ElevationRefusal::Impossible:
            return RunEnd::told(Outcome::NeedsAdministrator, Text::outcome_admin_impossible);
        case ElevationRefusal::Failed:
            return RunEnd::told(Outcome::NeedsAdministrator, Text::outcome_admin_failed,
                                {std::to_string(error)});
        case ElevationRefusal::Refused:
            break;
    }
    return RunEnd::told(Outcome::NeedsAdministrator, Text::outcome_admin_refused);
}

RunEnd diskFullEnd(const std::string& folder, const std::string& product, uint64_t needed,
                   uint64_t available) {
    return RunEnd::told(Outcome::DiskFull, Text::outcome_disk_full,
                        {folder, product, megabytes(needed, true), megabytes(available, false)});
}

RunEnd filesInUseEnd(const std::string& folder, const std::vector<std::string>& holders,
                     size_t named) {
    if (holders.empty())
        return RunEnd::told(Outcome::FilesInUse, Text::outcome_files_in_use, {folder});
    std::string list;
    for (size_t i = 0; i < holders.size() && i < named; ++i)
        list += (i == 0 ? "" : ", ") + holders[i];
    if (holders.size() > named) list += ", ...";
    return RunEnd::told(Outcome::FilesInUse, Text::outcome_files_in_use_by, {folder, list});
}

namespace {

Text installStepText(InstallStep step, bool reasonKnown) {
    switch (step) {
        case InstallStep::LinkedFolder:
            return Text::outcome_linked_folder;
        case InstallStep::Staging:
            return Text::outcome_staging_failed;
        case InstallStep::Unpack:
            return reasonKnown ? Text::outcome_unpack_failed : Text::outcome_unpack_failed_unknown;
        case InstallStep::Move:
            return Text::outcome_move_failed;
        case InstallStep::Uninstaller:
            return Text::outcome_uninstaller_failed;
        case InstallStep::UninstallInfo:
            return Text::outcome_uninstall_info_failed;
        case InstallStep::Access:
            return Text::outcome_access_failed;
        case InstallStep::Register:
            return Text::outcome_register_failed;
    }
    return Text::outcome_unpack_failed;
}

}  // namespace

RunEnd installFailedEnd(InstallStep step, const std::string& folder, const std::string& reason) {
    return RunEnd::told(Outcome::InstallFailed, installStepText(step, !reason.empty()),
                        {folder, reason});
}

RunEnd unexpectedEnd(const std::string& what) {
    return RunEnd::told(Outcome::Unexpected, Text::outcome_unexpected, {what});
}

Outcome downloadOutcome(DownloadFailure failure) {
    switch (failure) {
        case DownloadFailure::NoConnection:
        case DownloadFailure::NameNotFound:
        case DownloadFailure::Cut:
        case DownloadFailure::TimedOut:
            return Outcome::NoNetwork;
        default:
            return Outcome::DownloadFailed;
    }
}

std::string exitCodeHelp(bool uninstaller, const UiTexts& texts) {
    std::string lines;
    for (const OutcomeRow& row : kTable) {
        const Text help = uninstaller ? row.uninstallerHelp : row.setupHelp;
        if (help != Text::None) lines += std::to_string(row.exitCode) + "\t" + texts(help) + "\n";
    }
    return lines;
}

}  // namespace tessaryn
