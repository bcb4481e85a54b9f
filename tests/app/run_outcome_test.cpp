#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/command_line.h"
#include "app/run_outcome.h"
#include "app/ui_text.h"
#include "app/uninstall_end.h"

namespace tessaryn {
namespace {

// What each end must do; the exit codes are those scripts and deployment tools already rely on.
struct Expected {
    Outcome outcome;
    int code;
    int event;  // -1: none sent as the run ends
    bool box;   // shown when the run is not silent
    BoxIcon icon;
    bool support;  // the release's help or web page named: the release is at fault
};
constexpr BoxIcon N = BoxIcon::None, I = BoxIcon::Information, E = BoxIcon::Error;
constexpr Expected kExpected[] = {
    {Outcome::Finished, 0, -1, false, N, false},
    {Outcome::UninstallCompleted, 0, -1, true, I, false},
    {Outcome::NothingToRemove, 0, -1, true, I, false},
    {Outcome::Declined, 1, -1, false, N, false},
    {Outcome::HostEnded, 2, -1, false, N, false},
    {Outcome::OlderVersion, 3, -1, true, E, false},
    {Outcome::BelowFloor, 3, -1, true, E, false},
    {Outcome::Expired, 4, -1, true, E, true},
    {Outcome::FilesInUse, 5, 3, true, E, false},
    {Outcome::NoNetwork, 6, 4, true, E, false},
    {Outcome::InvalidSignature, 7, 2, true, E, false},
    {Outcome::SettingsMalformed, 7, 2, true, E, true},
    {Outcome::OtherProduct, 7, 2, true, E, true},
    {Outcome::WrongVersion, 7, 2, true, E, true},
    {Outcome::PackageMismatch, 7, 2, true, E, true},
    {Outcome::BothScopesInstalled, 8, -1, true, E, false},
    {Outcome::NeedsAdministrator, 9, -1, true, E, false},
    {Outcome::UnknownSwitch, 87, -1, true, E, false},
    {Outcome::DiskFull, 112, 3, true, E, false},
    {Outcome::InstallInProgress, 1618, -1, true, I, false},
    {Outcome::UninstallerForeign, -1, -1, true, E, false},
    {Outcome::UninstallerInfoMissing, -1, -1, true, E, false},
    {Outcome::UninstallIncomplete, -1, -1, true, E, false},
    {Outcome::DownloadFailed, -1, 4, true, E, false},
    {Outcome::InstallFailed, -1, 3, true, E, false},
    {Outcome::Unexpected, -1, -1, true, E, false},
};

TEST(RunOutcome, EachEndHasItsCodeEventAndBoxAndNoBoxWhenSilent) {
    ASSERT_EQ(outcomeTable().size(), std::size(kExpected));
    for (const Expected& row : kExpected) {
        const std::string name = outcomeRow(row.outcome).logName;
        const EndPlan shown = planEnd({row.outcome, "x"}, false, {});
        EXPECT_EQ(shown.exitCode, row.code) << name;
        EXPECT_EQ(shown.event ? static_cast<int>(*shown.event) : -1, row.event) << name;
        EXPECT_EQ(shown.showBox, row.box) << name;
        EXPECT_EQ(shown.logLine, "Outcome: " + name + ", exit code " + std::to_string(row.code));
        const EndPlan silent = planEnd({row.outcome, "x"}, true, {});
        EXPECT_FALSE(silent.showBox) << name;
        // Silence hides the box, never the message in the log.
        EXPECT_EQ(silent.message, shown.message) << name;
        EXPECT_EQ(shown.message.empty(), !row.box) << name;
        EXPECT_EQ(shown.icon, static_cast<uint32_t>(row.icon)) << name;
        const EndPlan helped = planEnd({row.outcome, "x"}, false, "https://help.example");
        EXPECT_EQ(helped.message != shown.message, row.support) << name;
    }
}

// The texts name the cause: the signature's own words only for a signature, a new download
// suggested only where one can help, the release's support place where the release is at fault.
TEST(RunOutcome, MessagesNameTheirCause) {
    struct Case {
        Outcome outcome;
        const char* detail;
        const char* support;
        const char* expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {Outcome::InvalidSignature, "", "https://help.example",
              "Setup cannot continue. Please re-download and try again."},
             {Outcome::OtherProduct, "Othersoft", "https://help.example",
              "The setup information file is for the product \"Othersoft\", not for this setup. "
              "Downloading again does not help: please tell the publisher.\n"
              "Support: https://help.example"},
             {Outcome::Expired, "2021-06-30T12:00:00Z", "https://www.example",
              "The setup files have expired (2021-06-30T12:00:00Z), and the web host offers no "
              "newer ones. Please try again later or ask the publisher for a current release.\n"
              "Support: https://www.example"},
             {Outcome::UninstallerInfoMissing, "Tessaryn", "https://help.example",
              "Error uninstalling.\nTessaryn is installed, but its setup information file "
              "unins000.dat is missing beside the uninstaller. Please run the product's setup "
              "again to repair it, then uninstall."},
             {Outcome::DownloadFailed, "Download failed!\nwhy", "https://help.example",
              "Download failed!\nwhy"},
         }) {
        const EndPlan plan = planEnd({c.outcome, c.detail}, false, c.support);
        EXPECT_EQ(plan.message, c.expected) << outcomeRow(c.outcome).logName;
    }
}

constexpr uint64_t kMB = 1024 * 1024;
const std::string kFolder = "C:\\Program Files\\Tessaryn";

// The ends told by texts of their own: the English message word for word, with each value in
// its place; the same end in German holds every value and none of the English sentences, and
// ends the same way (code, log line).
TEST(RunOutcome, ToldEndsSayTheirValuesInTheRunsLanguage) {
    using S = InstallStep;
    struct Case {
        RunEnd end;
        Outcome outcome;
        std::vector<std::string> values;  // as they appear in the English message
        std::string english;
    };
    const std::vector<Case> cases = {
        {olderVersionEnd("Tessaryn", "2.0", "1.10.0-beta"),
         Outcome::OlderVersion,
         {"Tessaryn", "2.0", "1.10.0-beta", "1.10.0-beta"},
         "Tessaryn 2.0 is already installed, and this setup holds the older version 1.10.0-beta: "
         "the installed version is left as it is. To go back to version 1.10.0-beta all the same, "
         "run Setup with /ALLOWDOWNGRADE."},
        {malformedSettingsEnd(""),
         Outcome::SettingsMalformed,
         {},
         "The setup information file does not name its package. Downloading again does not "
         "help: please tell the publisher."},
        {malformedSettingsEnd("index"),
         Outcome::SettingsMalformed,
         {"index"},
         "The setup information file has a malformed \"index\" entry. Downloading again does not "
         "help: please tell the publisher."},
        {wrongVersionEnd("3.0", "2.0"),
         Outcome::WrongVersion,
         {"3.0", "2.0", "3.0", "2.0"},
         "The setup information names version 3.0, not version 2.0 that was asked for with "
         "/VERSION. Run Setup without /VERSION to install version 3.0, or ask the publisher for "
         "version 2.0."},
        {packageVersionEnd(std::string("1.0"), "1.1"),
         Outcome::PackageMismatch,
         {"1.0", "1.1"},
         "The package holds version 1.0, but the setup information names version 1.1. "
         "Downloading again does not help: please tell the publisher."},
        {packageVersionEnd(std::nullopt, "1.1"),
         Outcome::PackageMismatch,
         {"?", "1.1"},
         "The package holds version ?, but the setup information names version 1.1. "
         "Downloading again does not help: please tell the publisher."},
        {packageIndexEnd("file a.txt: 3 bytes, not 4"),
         Outcome::PackageMismatch,
         {"file a.txt: 3 bytes, not 4"},
         "The list of files in the setup information does not match the package: file a.txt: 3 "
         "bytes, not 4. Downloading again does not help: please tell the publisher."},
        {bothScopesEnd("Tessaryn", "C:\\Users\\a\\Programs\\Tessaryn", kFolder),
         Outcome::BothScopesInstalled,
         {"Tessaryn", "C:\\Users\\a\\Programs\\Tessaryn", kFolder},
         "Tessaryn is installed twice: for you in C:\\Users\\a\\Programs\\Tessaryn and for all "
         "users in C:\\Program Files\\Tessaryn.\nRun Setup again with /CURRENTUSER or /ALLUSERS "
         "to choose which one it changes."},
        {needsAdministratorEnd(ElevationRefusal::Impossible),
         Outcome::NeedsAdministrator,
         {},
         "Installing for all users needs an administrator, and this account cannot become one. "
         "Run Setup with /CURRENTUSER to install for yourself only, or ask an administrator to "
         "install it."},
        {needsAdministratorEnd(ElevationRefusal::Refused, 1223),
         Outcome::NeedsAdministrator,
         {},
         "Installing for all users needs an administrator, and the administrator rights were not "
         "given. Run Setup again and allow it to make changes, or run it with /CURRENTUSER to "
         "install for yourself only."},
        {needsAdministratorEnd(ElevationRefusal::Failed, 1450),
         Outcome::NeedsAdministrator,
         {"1450"},
         "Installing for all users needs an administrator, but Setup could not be started with "
         "administrator rights (error 1450). Run Setup with /CURRENTUSER to install for yourself "
         "only."},
        // Needed rounds up, free down: a byte short is never shown as enough.
        {diskFullEnd(kFolder, "Tessaryn", 7 * kMB + 1, 4 * kMB - 1),
         Outcome::DiskFull,
         {kFolder, "Tessaryn", "8", "3"},
         "There is not enough free disk space on the drive of C:\\Program Files\\Tessaryn to "
         "install Tessaryn: 8 MB are needed, 3 MB are free. Free some space, then run Setup "
         "again."},
        {diskFullEnd(kFolder, "Tessaryn", 7 * kMB, 0),
         Outcome::DiskFull,
         {kFolder, "Tessaryn", "7", "0"},
         "There is not enough free disk space on the drive of C:\\Program Files\\Tessaryn to "
         "install Tessaryn: 7 MB are needed, 0 MB are free. Free some space, then run Setup "
         "again."},
        {filesInUseEnd(kFolder, {}),
         Outcome::FilesInUse,
         {kFolder},
         "Files of the installed version in C:\\Program Files\\Tessaryn are in use by another "
         "program. Close it, then run Setup again."},
        {filesInUseEnd(kFolder, {"a.exe", "b.exe", "c.exe"}, 3),
         Outcome::FilesInUse,
         {kFolder, "a.exe, b.exe, c.exe"},
         "Files of the installed version in C:\\Program Files\\Tessaryn are in use by another "
         "program (a.exe, b.exe, c.exe). Close it, then run Setup again."},
        {filesInUseEnd(kFolder, {"a.exe", "b.exe", "c.exe", "d.exe"}, 3),
         Outcome::FilesInUse,
         {kFolder, "a.exe, b.exe, c.exe, ..."},
         "Files of the installed version in C:\\Program Files\\Tessaryn are in use by another "
         "program (a.exe, b.exe, c.exe, ...). Close it, then run Setup again."},
        {installFailedEnd(S::LinkedFolder, "C:\\Users\\a\\Desktop"),
         Outcome::InstallFailed,
         {"C:\\Users\\a\\Desktop"},
         "The folder C:\\Users\\a\\Desktop is reached through a link. Setup running as an "
         "administrator does not install into it: run Setup without administrator rights."},
        {installFailedEnd(S::Staging, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "Setup could not make a folder for the new files beside C:\\Program Files\\Tessaryn. "
         "Nothing was changed. Check that the drive can be written to, then run Setup again."},
        {installFailedEnd(S::Unpack, kFolder, "Failed to write file: x (Error code: 100)"),
         Outcome::InstallFailed,
         {kFolder, "Failed to write file: x (Error code: 100)"},
         "The program files for C:\\Program Files\\Tessaryn could not be unpacked. Nothing was "
         "changed: run Setup again.\nReason: Failed to write file: x (Error code: 100)"},
        {installFailedEnd(S::Unpack, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The program files for C:\\Program Files\\Tessaryn could not be unpacked. Nothing was "
         "changed: run Setup again."},
        {installFailedEnd(S::Move, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The new files could not be moved into C:\\Program Files\\Tessaryn. Setup has undone "
         "its changes: run Setup again."},
        {installFailedEnd(S::Uninstaller, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The uninstaller could not be copied into C:\\Program Files\\Tessaryn. Setup has "
         "undone its changes: run Setup again."},
        {installFailedEnd(S::UninstallInfo, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The uninstall information could not be written into C:\\Program Files\\Tessaryn. "
         "Setup has undone its changes: run Setup again."},
        {installFailedEnd(S::Access, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The access rights of the installed files in C:\\Program Files\\Tessaryn could not be "
         "set. Setup has undone its changes: run Setup again."},
        {installFailedEnd(S::Register, kFolder),
         Outcome::InstallFailed,
         {kFolder},
         "The program in C:\\Program Files\\Tessaryn could not be added to the list of installed "
         "programs. Setup has undone its changes: run Setup again."},
        {unexpectedEnd("std::bad_alloc"),
         Outcome::Unexpected,
         {"std::bad_alloc"},
         "Setup stopped because of an unexpected error: std::bad_alloc\nRun Setup again; if this "
         "happens again, please tell the publisher."},
    };
    const std::optional<UiTexts> german = languageTexts("de");
    ASSERT_TRUE(german);
    for (const Case& c : cases) {
        EXPECT_EQ(c.end.outcome, c.outcome) << c.english;
        const EndPlan en = planEnd(c.end, false, {});
        EXPECT_EQ(en.message, c.english);
        const EndPlan de = planEnd(c.end, false, {}, *german);
        EXPECT_EQ(de.exitCode, en.exitCode) << c.english;
        EXPECT_EQ(de.logLine, en.logLine) << c.english;
        EXPECT_NE(de.title, en.title) << c.english;
        for (const std::string& value : c.values)
            EXPECT_NE(de.message.find(value), std::string::npos) << value << " in " << de.message;
        // The English words between the values: none of them reaches the German box.
        std::string rest = c.english;
        for (const std::string& value : c.values) {
            const size_t at = rest.find(value);
            ASSERT_NE(at, std::string::npos) << value << " in " << c.english;
            rest.replace(at, value.size(), "\n");
        }
        std::istringstream pieces(rest);
        for (std::string piece; std::getline(pieces, piece);) {
            if (piece.size() < 12) continue;
            EXPECT_EQ(de.message.find(piece), std::string::npos) << piece << " in " << de.message;
        }
    }
}

// A language that names the values in another order than English still gets each in its place.
TEST(RunOutcome, ToldEndsPutEachValueWhereTheLanguageNamesIt) {
    struct Case {
        const char* tag;
        RunEnd end;
        std::string first;  // comes before `second` in that language, after it in English
        std::string second;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"ja", diskFullEnd(kFolder, "Brightpad", 8 * kMB, 3 * kMB), "Brightpad", kFolder},
             {"tr", diskFullEnd(kFolder, "Brightpad", 8 * kMB, 3 * kMB), "Brightpad", kFolder},
             {"es", filesInUseEnd(kFolder, {"notepad.exe"}), "notepad.exe", kFolder},
             {"fi", filesInUseEnd(kFolder, {"notepad.exe"}), "notepad.exe", kFolder},
             {"he", filesInUseEnd(kFolder, {"notepad.exe"}), "notepad.exe", kFolder},
             {"tr", wrongVersionEnd("3.0", "2.5"), "2.5", "3.0"},
         }) {
        const std::optional<UiTexts> texts = languageTexts(c.tag);
        ASSERT_TRUE(texts) << c.tag;
        const std::string there = planEnd(c.end, true, {}, *texts).message;
        const std::string english = planEnd(c.end, true, {}).message;
        ASSERT_NE(there.find(c.first), std::string::npos) << c.tag << ": " << there;
        ASSERT_NE(there.find(c.second), std::string::npos) << c.tag << ": " << there;
        EXPECT_LT(there.find(c.first), there.find(c.second)) << c.tag << ": " << there;
        EXPECT_GT(english.find(c.first), english.find(c.second)) << english;
    }
}

// A deployment tool retries a network that was not there; a host that answered wrongly is no
// such case.
TEST(RunOutcome, OnlyAnUnreachableHostIsNoNetwork) {
    using F = DownloadFailure;
    for (F failure : {F::NoConnection, F::NameNotFound, F::Cut, F::TimedOut})
        EXPECT_EQ(downloadOutcome(failure), Outcome::NoNetwork) << static_cast<int>(failure);
    for (F failure : {F::None, F::Cancelled, F::Certificate, F::HttpStatus, F::ProxySignIn,
                      F::Disk, F::WrongFile})
        EXPECT_EQ(downloadOutcome(failure), Outcome::DownloadFailed) << static_cast<int>(failure);
}

// The record decides: one left behind keeps the product and fails the uninstall; a shortcut
// left behind is named and the uninstall completes.
TEST(RunOutcome, AnUninstallEndsByItsRecordAndNamesTheShortcutsLeft) {
    const std::string incomplete =
        "Error uninstalling.\nThe product's entry in the list of installed programs could not be "
        "removed: Access is denied. Its files are left in place: please run the uninstaller again "
        "as an administrator.";
    const std::string named = "Uninstall completed.\nThese shortcuts could not be removed; please "
                              "delete them:\nC:\\Desktop\\T.lnk\nC:\\Programs\\T";
    struct Case {
        const char* recordError;
        std::vector<std::string> left;
        int code;
        std::string message;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"", {}, 0, "Uninstall completed."},
             {"", {"C:\\Desktop\\T.lnk", "C:\\Programs\\T"}, 0, named},
             {"Access is denied", {}, -1, incomplete},
             {"Access is denied", {"C:\\Desktop\\T.lnk"}, -1, incomplete},
         }) {
        const EndPlan plan =
            planEnd(uninstallEnd(c.recordError, c.left), true, "https://help.example");
        EXPECT_EQ(plan.exitCode, c.code) << c.recordError << c.left.size();
        EXPECT_EQ(plan.message, c.message) << c.recordError << c.left.size();
    }
}

std::set<int> tableCodes() {
    std::set<int> codes;
    for (const OutcomeRow& row : outcomeTable()) codes.insert(row.exitCode);
    return codes;
}

// /? names every code of the table once, in the table's order; the uninstaller only its own.
TEST(RunOutcome, HelpListsEachCodeOnce) {
    EXPECT_EQ(exitCodeHelp(false),
              "0\tfinished\n1\tthe license was not accepted\n"
              "2\tthe web host asked the setup to end before it had finished\n"
              "3\tolder than the installed version (see /ALLOWDOWNGRADE)\n"
              "4\tthe setup files have expired and the web host has no newer ones\n"
              "5\tthe product's files are in use: the upgrade was refused, the old version kept\n"
              "6\tno network: the web host could not be reached after all tries\n"
              "7\tinvalid data or signature\n"
              "8\tinstalled for the user and for the machine; /CURRENTUSER or /ALLUSERS picks "
              "one\n"
              "9\tneeds an administrator and elevation was refused or is not possible\n"
              "87\ta switch the setup does not know\n"
              "112\tnot enough disk space\n"
              "1618\tanother setup or uninstaller of the product is running\n"
              "-1\tany other failure of a download or the installation\n");
    std::set<int> listed;
    for (const OutcomeRow& row : outcomeTable())
        if (row.setupHelp != Text::None) {
            EXPECT_TRUE(listed.insert(row.exitCode).second) << row.exitCode;
        }
    EXPECT_EQ(listed, tableCodes());
    const std::string uninstaller = helpText("Tessaryn", true);
    for (const char* code : {"\n0\t", "\n1\t", "\n2\t", "\n7\t", "\n87\t", "\n1618\t", "\n-1\t"})
        EXPECT_NE(uninstaller.find(code), std::string::npos) << code;
    for (const char* code : {"\n3\t", "\n4\t", "\n5\t", "\n6\t", "\n112\t"})
        EXPECT_EQ(uninstaller.find(code), std::string::npos) << code;
}

// The README's exit-code paragraph names exactly the table's codes.
TEST(RunOutcome, ReadmeNamesEveryCode) {
    std::ifstream file(TESSARYN_README);
    ASSERT_TRUE(file) << TESSARYN_README;
    std::stringstream whole;
    whole << file.rdbuf();
    const std::string text = whole.str();
    const size_t start = text.find("\nExit codes: ");
    ASSERT_NE(start, std::string::npos);
    const std::string paragraph = text.substr(start, text.find("\n\n", start) - start);
    std::set<int> named;
    const std::regex code("`(-?[0-9]+)`");
    for (auto it = std::sregex_iterator(paragraph.begin(), paragraph.end(), code);
         it != std::sregex_iterator(); ++it)
        named.insert(std::stoi((*it)[1]));
    EXPECT_EQ(named, tableCodes());
}

}  // namespace
}  // namespace tessaryn
