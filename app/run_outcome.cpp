#include "app/run_outcome.h"

namespace tessaryn {

namespace {

constexpr const char kReDownload[] = "Setup cannot continue. Please re-download and try again.";
// The release itself is at fault: a new download brings the same files.
#define TELL_PUBLISHER " Downloading again does not help: please tell the publisher."

using E = UsageEvent;
using I = BoxIcon;

// A new outcome is one row; a new exit code is a row with its /? lines (and a README line).
const std::vector<OutcomeRow> kTable = {
    {Outcome::Finished, 0, {}, "finished", nullptr, nullptr, I::None, false, "finished",
     "removed, or nothing to remove"},
    {Outcome::UninstallCompleted, 0, {}, "uninstall completed", "Uninstall",
     "Uninstall completed.{}", I::Information, false, nullptr, nullptr},
    {Outcome::NothingToRemove, 0, {}, "nothing to remove", "Uninstall",
     "{} is not installed: there is nothing to remove.", I::Information, false, nullptr, nullptr},
    {Outcome::Declined, 1, {}, "declined", nullptr, nullptr, I::None, false,
     "the license was not accepted", "the question was not answered with Yes"},
    {Outcome::HostEnded, 2, {}, "ended by the web host", nullptr, nullptr, I::None, false,
     "the web host asked the setup to end before it had finished",
     "the web host asked the uninstaller to end"},
    {Outcome::OlderVersion, 3, {}, "older than installed", "Older version", "{}", I::Error, false,
     "older than the installed version (see /ALLOWDOWNGRADE)", nullptr},
    {Outcome::BelowFloor, 3, {}, "below the release floor", "Older version",
     "The setup files are older than this setup accepts. Remove the setup files beside the "
     "setup, or run it again when the web host can be reached.",
     I::Error, false, nullptr, nullptr},
    {Outcome::Expired, 4, {}, "settings expired", "Setup files expired",
     "The setup files have expired ({}), and the web host offers no newer ones. Please try again "
     "later or ask the publisher for a current release.",
     I::Error, true, "the setup files have expired and the web host has no newer ones", nullptr},
    {Outcome::InvalidSignature, -1, E::SignatureInvalid, "invalid signature",
     "Invalid data signature", kReDownload, I::Error, false,
     "download, signature check or installation failed",
     "the setup information beside the uninstaller is damaged or missing"},
    {Outcome::SettingsMalformed, -1, E::SignatureInvalid, "settings malformed",
     "Invalid setup information", "The setup information file {}." TELL_PUBLISHER, I::Error, true, nullptr,
     nullptr},
    {Outcome::OtherProduct, -1, E::SignatureInvalid, "settings of another product",
     "Wrong setup information",
     "The setup information file is for the product \"{}\", not for this setup." TELL_PUBLISHER,
     I::Error, true,
     nullptr, nullptr},
    // The uninstaller's own copy: no event, as the record it came with is gone by now.
    {Outcome::UninstallerForeign, -1, {}, "uninstaller settings of another product",
     "Wrong setup information",
     "The setup information beside the uninstaller is for the product \"{}\". Please run the "
     "product's setup again to repair it, then uninstall.",
     I::Error, false, nullptr, nullptr},
    {Outcome::UninstallerInfoMissing, -1, {}, "uninstaller settings missing", "Error",
     "Error uninstalling.\n{} is installed, but its setup information file unins000.dat is "
     "missing beside the uninstaller. Please run the product's setup again to repair it, then uninstall.",
     I::Error, false, nullptr, nullptr},
    {Outcome::UninstallIncomplete, -1, {}, "uninstall record not removed", "Error",
     "Error uninstalling.\nThe product's entry in the list of installed programs could not be "
     "removed: {}. Its files are left in place: please run the uninstaller again as an "
     "administrator.",
     I::Error, false, nullptr, nullptr},
    {Outcome::PackageMismatch, -1, E::SignatureInvalid, "package of another release",
     "Package mismatch", "{}" TELL_PUBLISHER, I::Error, true, nullptr, nullptr},
    {Outcome::DownloadFailed, -1, E::DownloadFailed, "download failed", "Error", "{}", I::Error,
     false, nullptr, nullptr},
    {Outcome::InstallFailed, -1, E::InstallFailed, "installation failed", "Error", "{}",
     I::Error, false, nullptr, nullptr},
    {Outcome::Unexpected, -1, {}, "unexpected error", "Error", "{}", I::Error, false, nullptr,
     nullptr},
};

// Every "{}" of the text becomes the detail (one detail may be named twice).
std::string fill(const char* text, const std::string& detail) {
    std::string result;
    for (const char* c = text; *c; ++c) {
        if (c[0] == '{' && c[1] == '}') {
            result += detail;
            ++c;
        } else {
            result += *c;
        }
    }
    return result;
}

}  // namespace

const std::vector<OutcomeRow>& outcomeTable() {
    return kTable;
}

const OutcomeRow& outcomeRow(Outcome outcome) {
    for (const OutcomeRow& row : kTable)
        if (row.outcome == outcome) return row;
    return kTable.back();
}

EndPlan planEnd(const RunEnd& end, bool silent, const std::string& support) {
    const OutcomeRow& row = outcomeRow(end.outcome);
    EndPlan plan;
    plan.exitCode = row.exitCode;
    plan.event = row.event;
    plan.logLine = std::string("Outcome: ") + row.logName + ", exit code " +
                   std::to_string(row.exitCode);
    if (!row.text) return plan;
    plan.message = fill(row.text, end.detail);
    if (row.supportHint && !support.empty()) plan.message += "\nSupport: " + support;
    plan.title = row.title;
    plan.showBox = !silent;
    plan.icon = static_cast<uint32_t>(row.icon);
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
