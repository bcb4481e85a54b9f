#pragma once
// Which of the two installs a run works on (the signed-in user's or the machine's), and whether
// it must first start itself elevated: decided from the switches, the records found and the
// kind of the process's token, with no system call, so that every row is tested natively.
#include <string>
#include <string_view>

namespace tessaryn {

enum class Scope { PerUser, PerMachine };
enum class ScopeSwitch { None, CurrentUser, AllUsers };

// The process's token as the system describes it (TOKEN_ELEVATION_TYPE: 1 default, 2 full,
// 3 limited), whether it is LocalSystem, a member of Administrators, and whether the system
// elevates at all (User Account Control on).
struct TokenFacts {
    int elevationType = 1;
    bool localSystem = false;
    bool administrator = false;
    bool elevationAvailable = true;
};

enum class TokenKind {
    System,     // a deployment tool's service
    Elevated,   // an administrator's full token (an elevated prompt, or no split token)
    Limited,    // an administrator's filtered half: the prompt gives the full one
    Standard,   // no administrator: the prompt asks for an administrator's sign-in
    NoElevation // no administrator, and the system never elevates
};

TokenKind tokenKindOf(const TokenFacts& facts);

// Which records of the product exist. An /ALLUSERS run never looks for the user's.
struct InstalledScopes {
    bool perUser = false;
    bool perMachine = false;
};

enum class ScopeStep {
    GoOn,             // work here, in this process
    RelaunchElevated, // start this program elevated with /ALLUSERS and end with its code
    CannotElevate,    // per-machine without any way to an administrator
    BothInstalled,    // two copies, no switch picks one: change neither
};

struct ScopePlan {
    Scope scope = Scope::PerMachine;
    ScopeStep step = ScopeStep::GoOn;
    // Nothing is installed and no switch was given: the user may pick their own install
    // (the license window's choice, or instead of a refused elevation).
    bool mayOfferPerUser = false;
    // An elevated process on the user's road: its work files stay in the private folder of
    // the machine road, and a link in the user's folders it writes to stops the run.
    bool guardUserFolders = false;
};

ScopePlan planScope(ScopeSwitch chosen, const InstalledScopes& installed, TokenKind token);

enum class RefusedElevation { OfferPerUser, EndNeedsAdministrator };

// The elevation did not happen (prompt refused, or none possible): an interactive run that could
// have gone either way asks about the user's own install; every other run ends (exit code 9).
RefusedElevation afterRefusedElevation(const ScopePlan& plan, bool silent);

// The argument text of the elevated run: the given arguments as they came (so that each quoted
// value reaches it as written) and /ALLUSERS, the scope it must take without looking further.
std::string elevatedArguments(std::string_view arguments);

const char* scopeName(Scope scope);

}  // namespace tessaryn
