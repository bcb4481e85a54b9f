#include "app/command_line.h"

#include <utility>

#include "app/setup_paths.h"
#include "app/run_outcome.h"
#include "system/ascii_text.h"
#include "system/run_log.h"
#include "system/web_address.h"

namespace tessaryn {

namespace {

bool isHelpSwitch(std::string_view token) {
    for (std::string_view name : {"/?", "-?", "/HELP", "-HELP", "--HELP"})
        if (equalsIgnoringAsciiCase(token, name)) return true;
    return false;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
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

std::string_view argumentsOf(std::string_view line) {
    size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const size_t close = line.find('"', 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !isBlank(line[i])) ++i;
    }
    while (i < line.size() && isBlank(line[i])) ++i;
    return line.substr(i);
}

std::vector<std::string> joinQuotedTokens(const std::vector<std::string>& tokens) {
    std::vector<std::string> joined;
    std::string current;
    bool open = false;
    for (const std::string& token : tokens) {
        if (open) current += ' ';
        for (char c : token) {
            if (c == '"') {
                open = !open;
            } else {
                current += c;
            }
        }
        if (!open) joined.push_back(std::exchange(current, {}));
    }
    if (open) joined.push_back(current);  // an unclosed quote runs to the end
    return joined;
}

std::string helpText(const std::string& productName, bool uninstaller) {
    std::string text;
    if (uninstaller) {
        text = productName + " Uninstall\n\n" + kUninstallerFileNameUtf8 +
               " [/VERYSILENT] [/URL:host] [/LOG | /LOG=\"file\"] [/LANG=tag]\n\n"
               "/VERYSILENT\tRemove without any window or question.\n"
               "/URL:host\tSend the usage event to another web host.\n";
    } else {
        text = productName + " Setup\n\n"
               "Setup [/VERYSILENT] [/UPDATER] [/URL:host] [/ALLOWDOWNGRADE]\n"
               "      [/LOG | /LOG=\"file\"] [/LANG=tag]\n\n"
               "/VERYSILENT\tInstall without any window or question.\n"
               "/UPDATER\tReport the run as an update started by the product.\n"
               "/URL:host\tUse another web host: host, host:port, or http://host:port.\n"
               "/ALLOWDOWNGRADE\tInstall a version older than the installed one.\n";
    }
    text += "/LOG\t\tWrite a log of the run to the temporary folder (%TEMP%) as\n"
            "\t\t\"" + logFileNameShape(productName) + "\".\n"
            "/LOG=\"file\"\tWrite the log to this file.\n"
            "/LANG=tag\tShow the windows in this language (de, pt-BR, ...), not in the\n"
            "\t\tdisplay language.\n"
            "/?, /HELP\tShow this text.\n"
            "Other switches are ignored; /LOG names them in the log.\n\n"
            "Exit codes:\n" + exitCodeHelp(uninstaller);
    return text;
}

CommandLineOptions readCommandLine(std::string_view text) {
    constexpr std::string_view urlSwitch = "/URL:";
    constexpr std::string_view logSwitch = "/LOG";
    CommandLineOptions options;
    for (const std::string& token : joinQuotedTokens(splitCommandLine(text))) {
        if (isHelpSwitch(token)) {
            options.showHelp = true;
        } else if (equalsIgnoringAsciiCase(token, logSwitch)) {
            options.log = true;
            options.logFile.clear();
        } else if (startsWithIgnoringAsciiCase(token, "/LOG=")) {
            options.log = true;
            options.logFile = token.substr(logSwitch.size() + 1);
        } else if (startsWithIgnoringAsciiCase(token, "/LANG=")) {
            options.language = token.substr(6);
        } else if (equalsIgnoringAsciiCase(token, "/VERYSILENT")) {
            options.verySilent = true;
        } else if (equalsIgnoringAsciiCase(token, "/UPDATER")) {
            options.updaterMode = true;
        } else if (equalsIgnoringAsciiCase(token, "/ALLOWDOWNGRADE")) {
            options.allowDowngrade = true;
        } else if (startsWithIgnoringAsciiCase(token, urlSwitch)) {
            std::string value = token.substr(urlSwitch.size());
            if (value.empty()) continue;
            options.serverOverride = withWebScheme(value);
        } else if (!token.empty()) {
            options.unknown.push_back(token);
        }
    }
    return options;
}

}  // namespace tessaryn
