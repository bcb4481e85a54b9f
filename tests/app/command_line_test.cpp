#include <gtest/gtest.h>

#include <cctype>

#include "app/command_line.h"

namespace tessaryn {
namespace {

using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, CutsAtEverySingleSpace) {
    EXPECT_EQ(splitCommandLine(""), Tokens{""});
    EXPECT_EQ(splitCommandLine("/VERYSILENT"), Tokens{"/VERYSILENT"});
    EXPECT_EQ(splitCommandLine("/A  /B"), (Tokens{"/A", "", "/B"}));
    EXPECT_EQ(splitCommandLine(" /A "), (Tokens{"", "/A", ""}));
    // Quotes have no meaning, tabs are not separators.
    EXPECT_EQ(splitCommandLine("\"a b\"\t/c"), (Tokens{"\"a", "b\"\t/c"}));
}

TEST(ReadCommandLine, SwitchesIgnoreCaseButNotExtraText) {
    CommandLineOptions o = readCommandLine("/verysilent /UpDaTeR");
    EXPECT_TRUE(o.verySilent);
    EXPECT_TRUE(o.updaterMode);

    o = readCommandLine("/VERYSILENT=1 /UPDATERS /VERY SILENT");
    EXPECT_FALSE(o.verySilent);
    EXPECT_FALSE(o.updaterMode);

    o = readCommandLine("/UPDATER  /VERYSILENT");  // the empty token between them is ignored
    EXPECT_TRUE(o.verySilent);
    EXPECT_TRUE(o.updaterMode);
    EXPECT_TRUE(o.serverOverride.empty());
}

TEST(ReadCommandLine, UrlSwitchValues) {
    struct Case {
        const char* line;
        const char* override;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/URL:", ""},
             {"/URL:mirror.example", "https://mirror.example"},
             {"/URL:http://127.0.0.1:8080", "http://127.0.0.1:8080"},
             {"/URL:https://a.example", "https://a.example"},
             // The scheme test is exact: an upper-case scheme counts as part of a bare host.
             {"/URL:HTTP://a.example", "https://HTTP://a.example"},
             // The switch itself, like every other, takes any case.
             {"/url:http://127.0.0.1:8080", "http://127.0.0.1:8080"},
             {"/Url:a.example", "https://a.example"},
             // Later tokens win; an empty value does not clear an earlier one.
             {"/URL:a.example /url:b.example /URL:", "https://b.example"},
             {"/URLa.example /URL a.example", ""},
         }) {
        EXPECT_EQ(readCommandLine(c.line).serverOverride, c.override) << c.line;
    }
}

TEST(ReadCommandLine, UnknownSwitchesAreCollectedAsGiven) {
    struct Case {
        const char* line;
        Tokens unknown;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/VERYSILENT /url:x /log /? /UPDATER", {}},
             {"/VERYSLIENT", {"/VERYSLIENT"}},
             {"-VERYSLIENT", {"-VERYSLIENT"}},  // named as typed, not as read
             {"/SILENTLY  /URL /LOG:a.txt", {"/SILENTLY", "/URL", "/LOG:a.txt"}},
             {"/VERYSILENT=1 \"/DIR=C:\\a b\"", {"/VERYSILENT=1", "/DIR=C:\\a b"}},
             // The version becomes part of an address: anything but a plain one is refused.
             {"/VERSION= /VERSION=../x /VERSION=2.0?a=b /VERSION=a%2f",
              {"/VERSION=", "/VERSION=../x", "/VERSION=2.0?a=b", "/VERSION=a%2f"}},
             {"--VERYSILENT", {"--VERYSILENT"}},
             {"", {}},
         }) {
        EXPECT_EQ(readCommandLine(c.line).unknown, c.unknown) << c.line;
    }
}

// Each switch for deployment, in either prefix and any case, sets its own flag and no other.
TEST(ReadCommandLine, DeploymentSwitchesInBothPrefixes) {
    struct Case {
        const char* line;
        bool verySilent, silent, noLaunch, noIcons, noMetrics, allowDowngrade;
        const char* version;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/SILENT", false, true, false, false, false, false, ""},
             {"-silent", false, true, false, false, false, false, ""},
             {"-VERYSILENT", true, false, false, false, false, false, ""},
             {"/NOLAUNCH", false, false, true, false, false, false, ""},
             {"-NoIcons", false, false, false, true, false, false, ""},
             {"/nometrics", false, false, false, false, true, false, ""},
             {"-ALLOWDOWNGRADE", false, false, false, false, false, true, ""},
             {"/VERSION=2.0.1-rc_1+b", false, false, false, false, false, false, "2.0.1-rc_1+b"},
             {"-version=3 /VERSION=4", false, false, false, false, false, false, "4"},
             {"/VERSION=2 /VERSION=../x", false, false, false, false, false, false, "2"},
         }) {
        const CommandLineOptions o = readCommandLine(c.line);
        EXPECT_EQ(o.verySilent, c.verySilent) << c.line;
        EXPECT_EQ(o.silent, c.silent) << c.line;
        EXPECT_EQ(asksNothing(o), c.verySilent || c.silent) << c.line;
        EXPECT_EQ(o.noLaunch, c.noLaunch) << c.line;
        EXPECT_EQ(o.noIcons, c.noIcons) << c.line;
        EXPECT_EQ(o.noMetrics, c.noMetrics) << c.line;
        EXPECT_EQ(o.allowDowngrade, c.allowDowngrade) << c.line;
        EXPECT_EQ(o.version, c.version) << c.line;
    }
    const std::string longest(64, '9');
    EXPECT_EQ(readCommandLine("/VERSION=" + longest).version, longest);
    EXPECT_EQ(readCommandLine("/VERSION=" + longest + "9").version, "");
    EXPECT_EQ(readCommandLine("-URL:a.example -LOG=x.txt").serverOverride, "https://a.example");
    EXPECT_EQ(readCommandLine("-LOG=x.txt").logFile, "x.txt");
}

TEST(ArgumentsOf, SkipsTheProgramNameQuotedOrNot) {
    EXPECT_EQ(argumentsOf("\"C:\\My Apps\\Setup.exe\" /LOG /VERYSILENT"), "/LOG /VERYSILENT");
    EXPECT_EQ(argumentsOf("\"C:\\a b\\Setup.exe\"/LOG"), "/LOG");
    EXPECT_EQ(argumentsOf("Setup.exe \t /URL:x "), "/URL:x ");
    EXPECT_EQ(argumentsOf("Setup.exe"), "");
    EXPECT_EQ(argumentsOf("\"C:\\unclosed /LOG"), "");
    EXPECT_EQ(argumentsOf(""), "");
}

TEST(ReadCommandLine, LogSwitchWithQuotedAndPlainFileNames) {
    struct Case {
        const char* line;
        bool log;
        const char* file;
        bool verySilent;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/LOG", true, "", false},
             {"/log /VERYSILENT", true, "", true},
             {"/LOG=C:\\logs\\setup.txt", true, "C:\\logs\\setup.txt", false},
             {"/Log=\"C:\\My Logs\\setup run.txt\" /VERYSILENT", true,
              "C:\\My Logs\\setup run.txt", true},
             // As PowerShell and Wine pass an argument with spaces: the whole token quoted.
             {"\"/LOG=C:\\My Logs\\x.txt\"", true, "C:\\My Logs\\x.txt", false},
             // A switch inside the quoted name is part of the name, not a switch.
             {"/LOG=\"C:\\a /VERYSILENT b.txt\"", true, "C:\\a /VERYSILENT b.txt", false},
             {"/LOG=\"C:\\a  b.txt\"", true, "C:\\a  b.txt", false},  // two spaces stay two
             {"/LOG=\"C:\\unclosed /VERYSILENT", true, "C:\\unclosed /VERYSILENT", false},
             {"/LOG=", true, "", false},
             {"/LOG=a.txt /LOG", true, "", false},  // the later switch wins
             {"/LOGFILE=a.txt /LOG:a.txt", false, "", false},
             {"\"/VERYSILENT\"", false, "", true},
         }) {
        const CommandLineOptions o = readCommandLine(c.line);
        EXPECT_EQ(o.log, c.log) << c.line;
        EXPECT_EQ(o.logFile, c.file) << c.line;
        EXPECT_EQ(o.verySilent, c.verySilent) << c.line;
    }
}

TEST(ReadCommandLine, HelpSwitches) {
    for (const char* line : {"/?", "-?", "/help", "/HELP", "-Help", "--help", "/VERYSILENT /?"})
        EXPECT_TRUE(readCommandLine(line).showHelp) << line;
    for (const char* line : {"", "/??", "?", "/HELPME", "/H", "\"/VERYSILENT /?\""})
        EXPECT_FALSE(readCommandLine(line).showHelp) << line;
}

TEST(HelpText, ListsEverySwitchAndExitCode) {
    const std::string setup = helpText("Tessaryn", false);
    for (const char* part : {"/VERYSILENT", "/SILENT\t", "/UPDATER", "/URL:host", "/LOG\t",
                             "/LOG=\"file\"", "/VERSION=x", "/NOLAUNCH", "/NOICONS", "/NOMETRICS",
                             "/LANG=tag", "Tessaryn Setup Log <date> #NNN.txt", "/?", "\n0\t",
                             "\n1\t", "\n1618\t", "\n-1\t", "any other switch ends the run"})
        EXPECT_NE(setup.find(part), std::string::npos) << part;
    const std::string uninstaller = helpText("Tessaryn", true);
    for (const char* part :
         {"/VERYSILENT", "/URL:host", "/LOG=\"file\"", "/LANG=tag", "/?", "\n0\t", "\n1\t",
          "\n-1\t"})
        EXPECT_NE(uninstaller.find(part), std::string::npos) << part;
    // No effect on an uninstall.
    for (const char* part : {"/UPDATER", "/VERSION", "/NOLAUNCH", "/NOICONS"})
        EXPECT_EQ(uninstaller.find(part), std::string::npos) << part;
}

// The explanations in the run's language; the switches, the log name and the codes as typed.
TEST(HelpText, ExplainsInTheRunsLanguage) {
    const struct {
        const char* tag;
        bool uninstaller;
        std::vector<const char*> parts;
    } rows[] = {
        {"de", false,
         {"Tessaryn Setup\n\nSetup [/VERYSILENT | /SILENT]",
          "/NOICONS\tKeine Verknüpfungen anlegen.\n",
          "\t\t\"Tessaryn Setup Log <date> #NNN.txt\".\n", "\n\nExitcodes:\n0\tabgeschlossen\n",
          "\n87\tein Schalter, den das Setup nicht kennt\n", "\n1618\t", "\n-1\t"}},
        {"de", true,
         {"Tessaryn Deinstallation\n\nunins000.exe ",
          "/VERYSILENT\tOhne Fenster und ohne Fragen entfernen.\n",
          "/URL:host\tDas Nutzungsereignis an einen anderen Webhost senden.\n",
          "\n0\tentfernt, oder nichts zu entfernen\n"}},
        {"ja", false,
         {"Tessaryn セットアップ\n", "/ALLUSERS\tコンピューターのすべてのユーザー", "\n112\t"}},
    };
    for (const auto& row : rows) {
        const std::string text = helpText("Tessaryn", row.uninstaller, *languageTexts(row.tag));
        for (const char* part : row.parts)
            EXPECT_NE(text.find(part), std::string::npos) << row.tag << ": " << part;
        EXPECT_EQ(text.find("Install without"), std::string::npos) << row.tag;
        EXPECT_EQ(text.find("Exit codes"), std::string::npos) << row.tag;
    }
    // Every language lists the same switches and codes, in English's order.
    const auto columns = [](const std::string& text) {
        std::string firsts;
        for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            const auto first = static_cast<unsigned char>(text[at]);
            if (first == '/' || first == '-' || std::isdigit(first))
                firsts += text.substr(at, text.find('\t', at) - at) + " ";
            if (text.find('\n', at) == std::string::npos) break;
        }
        return firsts;
    };
    for (bool uninstaller : {false, true}) {
        const std::string english = columns(helpText("Tessaryn", uninstaller));
        for (int language = 1; language < kLanguageCount; ++language)
            EXPECT_EQ(columns(helpText("Tessaryn", uninstaller,
                                       *languageTexts(kLanguageTags[language]))),
                      english)
                << kLanguageTags[language] << (uninstaller ? " uninstaller" : "");
    }
}

}  // namespace
}  // namespace tessaryn
