#pragma once
// Reading of the program's command line: "/VERYSILENT", "/SILENT", "/UPDATER", "/URL:<address>",
// "/LOG", "/LOG=<file>", "/ALLOWDOWNGRADE", "/VERSION=<x>", "/NOLAUNCH", "/NOICONS", "/NOMETRICS",
// "/CURRENTUSER", "/ALLUSERS", "/LANG=<tag>" and "/?", each also with "-" in place of "/".
#include <string>
#include <string_view>
#include <vector>

#include "app/install_scope.h"
#include "app/ui_text.h"

namespace tessaryn {

// Cuts the text at every single space; two spaces in a row give an empty token. Quotes have no
// meaning.
std::vector<std::string> splitCommandLine(std::string_view text);

struct CommandLineOptions {
    bool verySilent = false;
    bool silent = false;  // "/SILENT": the progress window shown, no license, question or box
    bool updaterMode = false;
    bool allowDowngrade = false;  // "/ALLOWDOWNGRADE": a release older than the installed one
    ScopeSwitch scope = ScopeSwitch::None;  // "/CURRENTUSER" or "/ALLUSERS", the later wins
    bool noLaunch = false;        // "/NOLAUNCH": the product is not started at the end
    bool noIcons = false;         // "/NOICONS": no shortcuts, whatever the settings say
    bool noMetrics = false;       // "/NOMETRICS": no usage events, as with "metric": false
    // "/VERSION=<x>": exactly this release, from the host's kept releases; 1 to 64 letters,
    // digits, ".", "_", "+" or "-" (it becomes part of an address), else an unknown switch.
    std::string version;
    // The "/URL:" value (the switch in any case) with a scheme: as given when it has "http://"
    // or "https://", else with "https://" put in front. Empty when the switch is absent or has
    // no value.
    std::string serverOverride;
    bool showHelp = false;  // "/?", "-?", "/HELP", "-HELP" or "--HELP", in any case
    bool log = false;       // "/LOG" or "/LOG=<file>", in any case
    std::string logFile;    // the file of "/LOG=<file>"; empty for the default name
    std::string language;   // the tag of "/LANG=<tag>" as given; empty: the display language
    // Tokens that are none of the above (empty ones aside), in order: the run ends with them
    // named, so that a typo such as "/VERYSLIENT" never leaves it waiting at the license.
    std::vector<std::string> unknown;
};

// No license, question or box: either silent switch.
inline bool asksNothing(const CommandLineOptions& options) {
    return options.verySilent || options.silent;
}

// The arguments in a whole command line (GetCommandLineW): the text after the program's name
// (quoted or not) and the blanks that follow it.
std::string_view argumentsOf(std::string_view wholeCommandLine);

// The tokens of splitCommandLine with quoted parts joined again: a token with an odd number of
// quotes opens a part that runs, spaces included, to the token that closes it; the quotes are
// dropped. So /LOG="C:\My Logs\setup.txt" and "/LOG=C:\My Logs\setup.txt" are one token each.
std::vector<std::string> joinQuotedTokens(const std::vector<std::string>& tokens);

// The text of "/?": the switches and the exit codes of the outcome table (of the uninstaller
// when `uninstaller`), explained in `texts`' language; the switches themselves are as typed.
std::string helpText(const std::string& productName, bool uninstaller,
                     const UiTexts& texts = UiTexts());

// Reads the switches, once per run; later "/URL:" and "/LOG" tokens win, unknown tokens are
// collected.
CommandLineOptions readCommandLine(std::string_view text);

}  // namespace tessaryn
