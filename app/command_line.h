#pragma once
// Reading of the program's command line: "/VERYSILENT", "/UPDATER" and "/URL:<address>".
#include <string>
#include <string_view>
#include <vector>

namespace tessaryn {

// Cuts the text at every single space; two spaces in a row give an empty token. Quotes have no
// meaning.
std::vector<std::string> splitCommandLine(std::string_view text);

// True when both texts are equal with ASCII letters compared without case.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

struct CommandLineOptions {
    bool verySilent = false;
    bool updaterMode = false;
    // The "/URL:" value with a scheme: as given when it has "http://" or "https://", else with
    // "https://" put in front. Empty when the switch is absent or has no value.
    std::string serverOverride;
};

// Reads the switches; later "/URL:" tokens win, unknown tokens are ignored.
CommandLineOptions readCommandLine(std::string_view text);

// Reads the switches into the process-wide state and the server override. Flags are only ever
// set; an override replaces the current one only when the command line gives one.
void applyCommandLine(std::string_view text);

}  // namespace tessaryn
