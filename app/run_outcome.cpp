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
     "Uninstall completed.", I::Information, false, nullptr, nullptr},
    {Outcome::NothingToRemove, 0, {}, "nothing to remove", "Uninstall",
     "{} is not installed: there is nothing to remove.", I::Information, false, nullptr, nullptr},
    {Outcome::Declined, 1, {}, "declined", nullptr, nullptr, I::None, false,
     "the license was not accepted", "the question was not answered with Yes", "cancelledByUser"},
    {Outcome::HostEnded, 2, {}, "ended by the web host", nullptr, nullptr, I::None, false,
     "the web host asked the setup to end before it had finished",
     "the web host asked the uninstaller to end", "custom"},
    {Outcome::OlderVersion, 3, {}, "older than installed", "Older version", "{}", I::Error, false,
     "older than the installed version (see /ALLOWDOWNGRADE)", nullptr, "downgrade"},
    {Outcome::BelowFloor, 3, {}, "below the release floor", "Older version",
     "The setup files are older than this setup accepts. Remove the setup files beside the "
     "setup, or run it again when the web host can be reached.",
     I::Error, false, nullptr, nullptr},
    {Outcome::Expired, 4, {}, "settings expired", "Setup files expired",
     "The setup files have expired ({}), and the web host offers no newer ones. Please try again "
     "later or ask the publisher for a current release.",
     I::Error, true, "the setup files have expired and the web host has no newer ones", nullptr,
     "contactSupport"},
    // The old version stays installed as it was: a retry once the program is closed succeeds.
    {Outcome::FilesInUse, 5, E::InstallFailed, "files in use", "Files in use", "{}", I::Error,
     false, "the product's files are in use: the upgrade was refused, the old version kept",
     nullptr, "packageInUse"},
    {Outcome::NoNetwork, 6, E::DownloadFailed, "no network", "Error", "{}", I::Error, false,
     "no network: the web host could not be reached after all tries", nullptr, "noNetwork"},
    {Outcome::InvalidSignature, 7, E::SignatureInvalid, "invalid signature",
     "Invalid data signature", kReDownload, I::Error, false, "invalid data or signature",
     "the setup information beside the uninstaller is damaged", "contactSupport"},
    {Outcome::SettingsMalformed, 7, E::SignatureInvalid, "settings malformed",
     "Invalid setup information", "The setup information file {}." TELL_PUBLISHER, I::Error, true,
     nullptr, nullptr},
    {Outcome::OtherProduct, 7, E::SignatureInvalid, "settings of another product",
     "Wrong setup information",
     "The setup information file is for the product \"{}\", not for this setup." TELL_PUBLISHER,
     I::Error, true, nullptr, nullptr},
    // /VERSION asked for one release and the host named another: installing it would not be
    // what the administrator asked for.
    {Outcome::WrongVersion, 7, E::SignatureInvalid, "not the version asked for", "Wrong version",
     "{}", I::Error, true, nullptr, nullptr},
    {Outcome::PackageMismatch, 7, E::SignatureInvalid, "package of another release",
     "Package mismatch", "{}" TELL_PUBLISHER, I::Error, true, nullptr, nullptr},
    // Two copies would fight over shortcuts and updates: neither is changed until one is chosen.
    {Outcome::BothScopesInstalled, 8, {}, "both scopes installed", "Two installations",
     "{}\nRun Setup again with /CURRENTUSER or /ALLUSERS to choose which one it changes.",
     I::Error, false,
     "installed for the user and for the machine; /CURRENTUSER or /ALLUSERS picks one",
     "installed for the user and for the machine; /CURRENTUSER or /ALLUSERS picks one",
     "custom"},
    {Outcome::NeedsAdministrator, 9, {}, "needs an administrator", "Administrator needed",
     "Installing for all users needs an administrator, and the administrator rights were not "
     "given ({}). Run Setup with /CURRENTUSER to install for yourself only.",
     I::Error, false, "needs an administrator and elevation was refused or is not possible",
     "needs an administrator and elevation was refused or is not possible",
     "blockedByPolicy"},
    // Before anything else: a typo must not leave a run waiting for a question nobody sees.
    {Outcome::UnknownSwitch, 87, {}, "unknown switch", "Setup",
     "Unknown switch: {}\nRun the setup with /? to see the switches it knows.", I::Error, false,
     "a switch the setup does not know", "a switch the uninstaller does not know",
     "invalidParameter"},
    {Outcome::DiskFull, 112, E::InstallFailed, "not enough disk space", "Not enough disk space",
     "{}", I::Error, false, "not enough disk space", nullptr, "diskFull"},
    // Nothing is read or written yet, so no event: the other run reports its own.
    {Outcome::InstallInProgress, 1618, {}, "another setup is running", "Setup",
     "Another setup or uninstaller of {} is running. Please wait until it has finished, then try "
     "again.",
     I::Information, false, "another setup or uninstaller of the product is running",
     "another setup or uninstaller of the product is running", "installInProgress"},
    // The uninstaller's own copy: no event, as the record it came with is gone by now.
    {Outcome::UninstallerForeign, -1, {}, "uninstaller settings of another product",
     "Wrong setup information",
     "The setup information beside the uninstaller is for the product \"{}\". Please run the "
     "product's setup again to repair it, then uninstall.",
     I::Error, false, nullptr,
     "the setup information beside the uninstaller is missing or of another product"},
    {Outcome::UninstallerInfoMissing, -1, {}, "uninstaller settings missing", "Error",
     "Error uninstalling.\n{} is installed, but its setup information file unins000.dat is "
     "missing beside the uninstaller. Please run the product's setup again to repair it, then uninstall.",
     I::Error, false, nullptr, nullptr},
    {Outcome::DownloadFailed, -1, E::DownloadFailed, "download failed", "Error", "{}", I::Error,
     false, "any other failure of a download or the installation", nullptr},
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

std::string exitCodeHelp(bool uninstaller) {
    std::string lines;
    for (const OutcomeRow& row : kTable) {
        const char* help = uninstaller ? row.uninstallerHelp : row.setupHelp;
        if (help) lines += std::to_string(row.exitCode) + "\t" + help + "\n";
    }
    return lines;
}

}  // namespace tessaryn
