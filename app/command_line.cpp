#include "app/command_line.h"

#include <cctype>
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

// "-VERYSILENT" as "/VERYSILENT": both prefixes are the Windows convention. "--HELP" stays.
std::string withSlash(std::string token) {
    if (token.size() > 1 && token[0] == '-' && token[1] != '-') token[0] = '/';
    return token;
}

bool isPlainVersion(const std::string& value) {
    if (value.empty() || value.size() > 64) return false;
    for (char c : value)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '+' &&
            c != '-')
            return false;
    return true;
}

// The plain switches: each sets one flag.
bool* flagOf(CommandLineOptions& options, std::string_view token) {
    const std::pair<const char*, bool*> flags[] = {
        {"/VERYSILENT", &options.verySilent},    {"/SILENT", &options.silent},
        {"/UPDATER", &options.updaterMode},      {"/ALLOWDOWNGRADE", &options.allowDowngrade},
        {"/NOLAUNCH", &options.noLaunch},        {"/NOICONS", &options.noIcons},
        {"/NOMETRICS", &options.noMetrics},
    };
    for (const auto& [name, flag] : flags)
        if (equalsIgnoringAsciiCase(token, name)) return flag;
    return nullptr;
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

namespace {

// One switch a line: its name, tabs up to the explanations' column, the explanation.
struct HelpLine {
    const char* name;  // with the tabs after it
    Text text;
};

std::string helpLines(std::initializer_list<HelpLine> lines, const UiTexts& texts) {
    std::string text;
    for (const HelpLine& line : lines) text += std::string(line.name) + texts(line.text) + "\n";
    return text;
}

}  // namespace

std::string helpText(const std::string& productName, bool uninstaller, const UiTexts& texts) {
    using T = Text;
    std::string text;
    if (uninstaller) {
        text = texts.fill(T::help_uninstall_title, productName) + "\n\n" +
               kUninstallerFileNameUtf8 +
               " [/VERYSILENT | /SILENT] [/URL:host] [/NOMETRICS] [/LOG | /LOG=\"file\"]\n"
               "      [/LANG=tag]\n\n" +
               helpLines({{"/VERYSILENT\t", T::help_remove_very_silent},
                          {"/SILENT\t\t", T::help_remove_silent},
                          {"/URL:host\t", T::help_url_uninstall}},
                         texts);
    } else {
        text = texts.fill(T::help_setup_title, productName) +
               "\n\n"
               "Setup [/VERYSILENT | /SILENT] [/UPDATER] [/URL:host] [/ALLOWDOWNGRADE]\n"
               "      [/VERSION=x] [/NOLAUNCH] [/NOICONS] [/NOMETRICS] [/CURRENTUSER | /ALLUSERS]\n"
               "      [/LOG | /LOG=\"file\"] [/LANG=tag]\n\n" +
               helpLines({{"/VERYSILENT\t", T::help_install_very_silent},
                          {"/SILENT\t\t", T::help_install_silent},
                          {"/UPDATER\t", T::help_updater},
                          {"/URL:host\t", T::help_url},
                          {"/ALLOWDOWNGRADE\t", T::help_allow_downgrade},
                          {"/VERSION=x\t", T::help_version},
                          {"/NOLAUNCH\t", T::help_no_launch},
                          {"/NOICONS\t", T::help_no_icons},
                          {"/CURRENTUSER\t", T::help_current_user},
                          {"/ALLUSERS\t", T::help_all_users}},
                         texts);
    }
    text += "/LOG\t\t" + texts.fill(T::help_log, logFileNameShape(productName)) + "\n" +
            helpLines({{"/LOG=\"file\"\t", T::help_log_file},
                       {"/NOMETRICS\t", T::help_no_metrics},
                       {"/LANG=tag\t", T::help_lang},
                       {"/?, /HELP\t", T::help_help}},
                      texts) +
            texts(T::help_dash) + "\n\n" + texts(T::help_exit_codes) + "\n" +
            exitCodeHelp(uninstaller, texts);
    return text;
}

CommandLineOptions readCommandLine(std::string_view text) {
    constexpr std::string_view urlSwitch = "/URL:";
    constexpr std::string_view logSwitch = "/LOG";
    CommandLineOptions options;
    for (const std::string& given : joinQuotedTokens(splitCommandLine(text))) {
        const std::string token = withSlash(given);
        if (bool* flag = flagOf(options, token)) {
            *flag = true;
        } else if (isHelpSwitch(token) || isHelpSwitch(given)) {
            options.showHelp = true;
        } else if (equalsIgnoringAsciiCase(token, logSwitch)) {
            options.log = true;
            options.logFile.clear();
        } else if (startsWithIgnoringAsciiCase(token, "/LOG=")) {
            options.log = true;
            options.logFile = token.substr(logSwitch.size() + 1);
        } else if (equalsIgnoringAsciiCase(token, "/CURRENTUSER")) {
            options.scope = ScopeSwitch::CurrentUser;
        } else if (equalsIgnoringAsciiCase(token, "/ALLUSERS")) {
            options.scope = ScopeSwitch::AllUsers;
        } else if (startsWithIgnoringAsciiCase(token, "/VERSION=") &&
                   isPlainVersion(token.substr(9))) {
            options.version = token.substr(9);
        } else if (startsWithIgnoringAsciiCase(token, "/LANG=")) {
            options.language = token.substr(6);
        } else if (startsWithIgnoringAsciiCase(token, urlSwitch)) {
            std::string value = token.substr(urlSwitch.size());
            if (value.empty()) continue;
            options.serverOverride = withWebScheme(value);
        } else if (!token.empty()) {
            options.unknown.push_back(given);
        }
    }
    return options;
}

}  // namespace tessaryn
