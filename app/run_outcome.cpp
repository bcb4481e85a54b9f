#include "app/run_outcome.h"

namespace tessaryn {

namespace {

using E = UsageEvent;
using I = BoxIcon;
using T = Text;

// A new outcome is one row, its title and text ids of resources/strings/en.txt (a line in each
// language's file there); a new exit code is a row with its /? lines (and a README line).
const std::vector<OutcomeRow> kTable = {
    {Outcome::Finished, 0, {}, "finished", T::None, T::None, I::None, false, "finished",
     "removed, or nothing to remove"},
    {Outcome::UninstallCompleted, 0, {}, "uninstall completed", T::outcome_uninstall_title,
     T::outcome_uninstall_completed, I::Information, false, nullptr, nullptr},
    {Outcome::NothingToRemove, 0, {}, "nothing to remove", T::outcome_uninstall_title,
     T::outcome_nothing_to_remove, I::Information, false, nullptr, nullptr},
    {Outcome::Declined, 1, {}, "declined", T::None, T::None, I::None, false,
     "the license was not accepted", "the question was not answered with Yes"},
    {Outcome::HostEnded, 2, {}, "ended by the web host", T::None, T::None, I::None, false,
     "the web host asked the setup to end before it had finished",
     "the web host asked the uninstaller to end"},
    {Outcome::OlderVersion, 3, {}, "older than installed", T::outcome_older_title,
     T::outcome_detail, I::Error, false,
     "older than the installed version (see /ALLOWDOWNGRADE)", nullptr},
    {Outcome::BelowFloor, 3, {}, "below the release floor", T::outcome_older_title,
     T::outcome_below_floor,
     I::Error, false, nullptr, nullptr},
    {Outcome::Expired, 4, {}, "settings expired", T::outcome_expired_title,
     T::outcome_expired,
     I::Error, true, "the setup files have expired and the web host has no newer ones", nullptr},
    {Outcome::InvalidSignature, -1, E::SignatureInvalid, "invalid signature",
     T::outcome_signature_title, T::outcome_redownload, I::Error, false,
     "download, signature check or installation failed",
     "the setup information beside the uninstaller is damaged or missing"},
    {Outcome::SettingsMalformed, -1, E::SignatureInvalid, "settings malformed",
     T::outcome_malformed_title, T::outcome_malformed, I::Error, true, nullptr,
     nullptr},
    {Outcome::OtherProduct, -1, E::SignatureInvalid, "settings of another product",
     T::outcome_wrong_info_title, T::outcome_other_product,
     I::Error, true,
     nullptr, nullptr},
    // The uninstaller's own copy: no event, as the record it came with is gone by now.
    {Outcome::UninstallerForeign, -1, {}, "uninstaller settings of another product",
     T::outcome_wrong_info_title,
     T::outcome_uninstaller_foreign,
     I::Error, false, nullptr, nullptr},
    {Outcome::UninstallerInfoMissing, -1, {}, "uninstaller settings missing",
     T::outcome_error_title, T::outcome_uninstaller_info_missing, I::Error, false, nullptr, nullptr},
    {Outcome::PackageMismatch, -1, E::SignatureInvalid, "package of another release",
     T::outcome_mismatch_title, T::outcome_mismatch, I::Error, true, nullptr, nullptr},
    {Outcome::DownloadFailed, -1, E::DownloadFailed, "download failed", T::outcome_error_title,
     T::outcome_detail, I::Error,
     false, nullptr, nullptr},
    {Outcome::InstallFailed, -1, E::InstallFailed, "installation failed", T::outcome_error_title,
     T::outcome_detail,
     I::Error, false, nullptr, nullptr},
    {Outcome::Unexpected, -1, {}, "unexpected error", T::outcome_error_title, T::outcome_detail,
     I::Error, false, nullptr, nullptr},
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
    plan.message = texts.fill(row.text, end.detail);
    if (row.supportHint && !support.empty())
        plan.message += texts.fill(Text::outcome_support, support);
    plan.title = texts(row.title);
    plan.showBox = !silent;
    plan.icon = static_cast<uint32_t>(row.icon) | (texts.rightToLeft() ? kRightToLeftBoxBits : 0);
    return plan;
}

std::string exitCodeHelp(bool uninstaller) {
    std::string lines;
    for (const OutcomeRow& row : kTable) {
        const char* help = uninstaller ? row.uninstallerHelp : row.setupHelp;
        if (help) lines += std::to_string(row.exitCode) + "\t" + help + "\n";
    }
    return lines;
}

}  // namespace tessaryn
