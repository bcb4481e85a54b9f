#include "app/install_scope.h"

namespace tessaryn {

TokenKind tokenKindOf(const TokenFacts& facts) {
    if (facts.localSystem) return TokenKind::System;
    if (facts.elevationType == 2) return TokenKind::Elevated;
    if (facts.elevationType == 3) return TokenKind::Limited;
    // An unsplit token: an administrator's is already whole (User Account Control off, or the
    // built-in Administrator).
    if (facts.administrator) return TokenKind::Elevated;
    return facts.elevationAvailable ? TokenKind::Standard : TokenKind::NoElevation;
}

ScopePlan planScope(ScopeSwitch chosen, const InstalledScopes& installed, TokenKind token) {
    ScopePlan plan;
    const bool elevated = token == TokenKind::Elevated || token == TokenKind::System;
    if (chosen == ScopeSwitch::CurrentUser) {
        plan.scope = Scope::PerUser;
    } else if (chosen == ScopeSwitch::None && installed.perUser && installed.perMachine) {
        plan.step = ScopeStep::BothInstalled;
        return plan;
    } else if (chosen == ScopeSwitch::None && installed.perUser) {
        plan.scope = Scope::PerUser;
    } else {
        plan.mayOfferPerUser =
            chosen == ScopeSwitch::None && !installed.perUser && !installed.perMachine;
    }
    if (plan.scope == Scope::PerUser) {
        plan.guardUserFolders = elevated;
        return plan;
    }
    if (!elevated)
        plan.step = token == TokenKind::NoElevation ? ScopeStep::CannotElevate
                                                    : ScopeStep::RelaunchElevated;
    return plan;
}

RefusedElevation afterRefusedElevation(const ScopePlan& plan, bool silent) {
    return plan.mayOfferPerUser && !silent ? RefusedElevation::OfferPerUser
                                           : RefusedElevation::EndNeedsAdministrator;
}

std::string elevatedArguments(std::string_view arguments) {
    std::string text(arguments);
    // An unclosed quote would take the scope into its value: it is closed first.
    size_t quotes = 0;
    for (char c : text) quotes += c == '"';
    if (quotes % 2) text += '"';
    if (!text.empty()) text += ' ';
    return text + "/ALLUSERS";
}

const char* scopeName(Scope scope) {
    return scope == Scope::PerUser ? "per-user" : "per-machine";
}

}  // namespace tessaryn
