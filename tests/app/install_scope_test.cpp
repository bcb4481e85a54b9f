#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/install_scope.h"

namespace tessaryn {
namespace {

constexpr Scope U = Scope::PerUser, M = Scope::PerMachine;
constexpr ScopeStep Go = ScopeStep::GoOn, Up = ScopeStep::RelaunchElevated,
                    No = ScopeStep::CannotElevate, Both = ScopeStep::BothInstalled;

// {nothing, per-user, per-machine, both} x {no switch, /CURRENTUSER, /ALLUSERS}, for a limited
// token (where the machine road must relaunch) and an elevated one (where it goes on).
TEST(PlanScope, EveryInstalledStateAgainstEverySwitch) {
    struct Row {
        bool user, machine;
        ScopeSwitch chosen;
        Scope scope;
        ScopeStep limited, elevated;
        bool offer;
    };
    const Row rows[] = {
        {false, false, ScopeSwitch::None, M, Up, Go, true},
        {false, false, ScopeSwitch::CurrentUser, U, Go, Go, false},
        {false, false, ScopeSwitch::AllUsers, M, Up, Go, false},
        {true, false, ScopeSwitch::None, U, Go, Go, false},
        {true, false, ScopeSwitch::CurrentUser, U, Go, Go, false},
        {true, false, ScopeSwitch::AllUsers, M, Up, Go, false},
        {false, true, ScopeSwitch::None, M, Up, Go, false},
        {false, true, ScopeSwitch::CurrentUser, U, Go, Go, false},
        {false, true, ScopeSwitch::AllUsers, M, Up, Go, false},
        {true, true, ScopeSwitch::None, M, Both, Both, false},
        {true, true, ScopeSwitch::CurrentUser, U, Go, Go, false},
        {true, true, ScopeSwitch::AllUsers, M, Up, Go, false},
    };
    for (const Row& row : rows) {
        const InstalledScopes installed{row.user, row.machine};
        const std::string name = std::to_string(row.user) + std::to_string(row.machine) + " " +
                                 std::to_string(static_cast<int>(row.chosen));
        for (TokenKind token : {TokenKind::Limited, TokenKind::Elevated}) {
            const ScopePlan plan = planScope(row.chosen, installed, token);
            const bool elevated = token == TokenKind::Elevated;
            EXPECT_EQ(plan.step, elevated ? row.elevated : row.limited) << name;
            if (plan.step == Both) continue;
            EXPECT_EQ(plan.scope, row.scope) << name;
            EXPECT_EQ(plan.mayOfferPerUser, row.offer) << name;
            EXPECT_EQ(plan.guardUserFolders, elevated && row.scope == U) << name;
        }
    }
}

// The machine road by token kind; the user's road never elevates, and guards its folders only
// when the process is elevated all the same.
TEST(PlanScope, RelaunchByTokenKind) {
    struct Row {
        TokenKind token;
        ScopeStep machine;
        bool guardsUserRoad;
    };
    const Row rows[] = {
        {TokenKind::System, Go, true},        {TokenKind::Elevated, Go, true},
        {TokenKind::Limited, Up, false},      {TokenKind::Standard, Up, false},
        {TokenKind::NoElevation, No, false},
    };
    for (const Row& row : rows) {
        const int kind = static_cast<int>(row.token);
        EXPECT_EQ(planScope(ScopeSwitch::AllUsers, {}, row.token).step, row.machine) << kind;
        const ScopePlan user = planScope(ScopeSwitch::CurrentUser, {}, row.token);
        EXPECT_EQ(user.step, Go) << kind;
        EXPECT_EQ(user.guardUserFolders, row.guardsUserRoad) << kind;
    }
}

TEST(TokenKindOf, FromTheTokensFacts) {
    struct Row {
        TokenFacts facts;
        TokenKind kind;
    };
    const Row rows[] = {
        {{1, true, true, true}, TokenKind::System},
        {{2, true, true, true}, TokenKind::System},  // SYSTEM whatever else it says
        {{2, false, true, true}, TokenKind::Elevated},
        {{3, false, false, true}, TokenKind::Limited},
        {{1, false, true, false}, TokenKind::Elevated},  // an administrator without UAC
        {{1, false, false, true}, TokenKind::Standard},
        {{1, false, false, false}, TokenKind::NoElevation},
    };
    for (const Row& row : rows)
        EXPECT_EQ(tokenKindOf(row.facts), row.kind)
            << row.facts.elevationType << row.facts.localSystem << row.facts.administrator
            << row.facts.elevationAvailable;
}

// A refused prompt (or none possible) offers the user's own install only to an interactive run
// that had no switch and found nothing installed.
TEST(AfterRefusedElevation, OffersTheUsersInstallOnlyWhenItWasOpen) {
    using R = RefusedElevation;
    const ScopePlan open = planScope(ScopeSwitch::None, {}, TokenKind::Limited);
    const ScopePlan chosen = planScope(ScopeSwitch::AllUsers, {}, TokenKind::Limited);
    const ScopePlan upgrade = planScope(ScopeSwitch::None, {false, true}, TokenKind::Limited);
    const ScopePlan cannot = planScope(ScopeSwitch::None, {}, TokenKind::NoElevation);
    EXPECT_EQ(afterRefusedElevation(open, false), R::OfferPerUser);
    EXPECT_EQ(afterRefusedElevation(cannot, false), R::OfferPerUser);
    EXPECT_EQ(afterRefusedElevation(open, true), R::EndNeedsAdministrator);
    EXPECT_EQ(afterRefusedElevation(chosen, false), R::EndNeedsAdministrator);
    EXPECT_EQ(afterRefusedElevation(upgrade, false), R::EndNeedsAdministrator);
}

// The elevated run reads the very switches it was given, and the machine's scope whatever they
// said before.
TEST(ElevatedArguments, CarryEverySwitchAsGivenAndTheMachineScope) {
    for (const char* line :
         {"", "/VERYSILENT", "/LOG=\"C:\\My Logs\\x.txt\" /URL:http://127.0.0.1:8080",
          "\"/LOG=C:\\My Logs\\x.txt\" /UPDATER", "/LOG=\"C:\\unclosed /VERYSILENT",
          "/LOG=\"C:\\a  b.txt\"  /ALLOWDOWNGRADE /TYPO", "/CURRENTUSER"}) {
        const CommandLineOptions given = readCommandLine(line);
        const CommandLineOptions elevated = readCommandLine(elevatedArguments(line));
        EXPECT_EQ(elevated.scope, ScopeSwitch::AllUsers) << line;
        EXPECT_EQ(elevated.verySilent, given.verySilent) << line;
        EXPECT_EQ(elevated.updaterMode, given.updaterMode) << line;
        EXPECT_EQ(elevated.allowDowngrade, given.allowDowngrade) << line;
        EXPECT_EQ(elevated.serverOverride, given.serverOverride) << line;
        EXPECT_EQ(elevated.log, given.log) << line;
        EXPECT_EQ(elevated.logFile, given.logFile) << line;
        EXPECT_EQ(elevated.unknown, given.unknown) << line;
    }
}

}  // namespace
}  // namespace tessaryn
