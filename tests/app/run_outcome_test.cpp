#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/command_line.h"
#include "app/run_outcome.h"
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
             {Outcome::PackageMismatch, "The package holds version 2.", "",
              "The package holds version 2. Downloading again does not help: please tell the "
              "publisher."},
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
