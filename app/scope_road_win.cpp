#include "app/scope_road_win.h"

#include "app/product_name.h"
#include "app/run_outcome_win.h"
#include "app/startup_win.h"
#include "app/ui_text_win.h"
#include "system/elevation_win.h"
#include "system/handles_win.h"
#include "system/nt_files_win.h"
#include "system/path_parts.h"
#include "system/process_win.h"
#include "system/registry_win.h"
#include "system/run_log.h"
#include "system/shortcuts_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

TokenKind currentTokenKind() {
    const ElevationFacts facts = readElevationFacts();
    return tokenKindOf({facts.elevationType, facts.localSystem, facts.administrator,
                        facts.elevationAvailable});
}

// The uninstaller works on the install it lies in. The setup looks for the user's record only
// when no switch has chosen the machine: an /ALLUSERS run (every elevated relaunch) takes
// nothing from HKCU.
InstalledScopes installedScopes(ScopeSwitch chosen, bool uninstaller) {
    if (uninstaller) {
        const bool inUserFolder = samePath(getModuleDirectory() + L"\\",
                                           installFolderFor(Scope::PerUser));
        return {inUserFolder, !inUserFolder};
    }
    const std::wstring name = toWide(kBuiltInProductName);
    return {chosen != ScopeSwitch::AllUsers && installedVersion(name, true).has_value(),
            installedVersion(name, false).has_value()};
}

// Elevation refused or impossible: the user's own install offered where the run was open to it.
std::optional<int> withoutElevation(bool silent, const std::string& why, const RunEnd& refused,
                                    ScopePlan& plan, TokenKind token) {
    logLine("Not elevated: " + why);
    if (afterRefusedElevation(plan, silent) == RefusedElevation::OfferPerUser) {
        const std::string question =
            uiTexts().fill(Text::scope_for_me_question, kBuiltInProductName);
        const int answer = MessageBoxW(nullptr, toWide(question).c_str(),
                                       wideText(Text::outcome_setup_title).c_str(),
                                       boxStyle(MB_YESNO | MB_ICONQUESTION));
        logLine("Message (Setup): " + question +
                (answer == IDYES ? " Answer: Yes" : " Answer: No"));
        if (answer == IDYES) {
            plan = planScope(ScopeSwitch::CurrentUser, {}, token);
            return std::nullopt;
        }
    }
    return endRun(refused, silent);
}

}  // namespace

std::optional<int> settleScope(const CommandLineOptions& options, const std::string& arguments,
                               bool uninstaller, ScopePlan& plan) {
    const bool silent = asksNothing(options);
    const TokenKind token = currentTokenKind();
    const InstalledScopes installed = installedScopes(options.scope, uninstaller);
    plan = planScope(uninstaller ? ScopeSwitch::None : options.scope, installed, token);
    logLine(std::string("Scope: ") + scopeName(plan.scope) + " (token kind " +
            std::to_string(static_cast<int>(token)) + ", installed for the user: " +
            (installed.perUser ? "yes" : "no") + ", for the machine: " +
            (installed.perMachine ? "yes" : "no") + ")");
    if (plan.step == ScopeStep::BothInstalled)
        return endRun(bothScopesEnd(kBuiltInProductName, toUtf8(installFolderFor(Scope::PerUser)),
                                    toUtf8(installFolderFor(Scope::PerMachine))),
                      silent);
    if (plan.step == ScopeStep::CannotElevate)
        return withoutElevation(silent, "this account cannot become an administrator",
                                needsAdministratorEnd(ElevationRefusal::Impossible), plan, token);
    if (plan.step != ScopeStep::RelaunchElevated) return std::nullopt;
    const std::string passed = elevatedArguments(arguments);
    logLine("Starting elevated: " + passed);
    // The elevated run writes its own log; this one's file is let go first.
    setLogWriter(nullptr);
    const ElevatedRun elevated = runElevatedAndWait(getModulePath(), toWide(passed));
    if (elevated.started) return static_cast<int>(elevated.exitCode);
    const bool refused = elevated.error == ERROR_CANCELLED;
    return withoutElevation(
        silent,
        refused ? "the elevation prompt was refused"
                : "elevation failed (" + std::to_string(elevated.error) + ")",
        needsAdministratorEnd(refused ? ElevationRefusal::Refused : ElevationRefusal::Failed,
                              elevated.error),
        plan, token);
}

std::optional<int> refuseLinkedUserFolders(const RunContext& context, bool silent) {
    if (!context.guardUserFolders) return std::nullopt;
    // The user's programs folder may not exist yet: it is made, then checked like the rest.
    const std::wstring programs = directoryOf(withoutTrailingSeparator(context.installDir));
    CreateDirectoryW(programs.c_str(), nullptr);
    for (const std::wstring& folder :
         {programs, withoutTrailingSeparator(context.installDir), startMenuProgramsFolder(true),
          desktopFolder(true)}) {
        const UniqueFile held(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
        if (!held && GetLastError() == ERROR_FILE_NOT_FOUND) continue;
        if (held && reachedByPath(held.get(), folder)) continue;
        logLine("Elevated per-user run: " + toUtf8(folder) + " is reached through a link");
        return endRun(installFailedEnd(InstallStep::LinkedFolder, toUtf8(folder)), silent);
    }
    return std::nullopt;
}

}  // namespace tessaryn
