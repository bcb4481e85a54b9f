#include "app/command_line.h"

#include "app/setup_state.h"

namespace tessaryn {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view text) {
    std::vector<std::string> tokens;
    size_t start = 0;
    while (true) {
        size_t space = text.find(' ', start);
        if (space == std::string_view::npos) {
            tokens.emplace_back(text.substr(start));
            return tokens;
        }
        tokens.emplace_back(text.substr(start, space - start));
        start = space + 1;
    }
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

CommandLineOptions readCommandLine(std::string_view text) {
    constexpr std::string_view urlSwitch = "/URL:";
    CommandLineOptions options;
    for (const std::string& token : splitCommandLine(text)) {
        if (equalsIgnoringAsciiCase(token, "/VERYSILENT")) {
            options.verySilent = true;
        } else if (equalsIgnoringAsciiCase(token, "/UPDATER")) {
            options.updaterMode = true;
        } else if (startsWith(token, urlSwitch)) {
            std::string value = token.substr(urlSwitch.size());
            if (value.empty()) continue;
            if (startsWith(value, "http://") || startsWith(value, "https://")) {
                options.serverOverride = value;
            } else {
                options.serverOverride = "https://" + value;
            }
        }
    }
    return options;
}

void applyCommandLine(std::string_view text) {
    CommandLineOptions options = readCommandLine(text);
    SetupState& state = setupState();
    if (options.verySilent) state.verySilent = true;
    if (options.updaterMode) state.updaterMode = true;
    if (!options.serverOverride.empty()) serverOverride() = options.serverOverride;
}

}  // namespace tessaryn
