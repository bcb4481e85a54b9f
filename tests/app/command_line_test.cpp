#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/setup_state.h"

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
    EXPECT_EQ(readCommandLine("/URL:").serverOverride, "");
    EXPECT_EQ(readCommandLine("/URL:mirror.example").serverOverride, "https://mirror.example");
    EXPECT_EQ(readCommandLine("/URL:http://127.0.0.1:8080").serverOverride,
              "http://127.0.0.1:8080");
    EXPECT_EQ(readCommandLine("/URL:https://a.example").serverOverride, "https://a.example");
    // The scheme test is exact: an upper-case scheme counts as part of a bare host.
    EXPECT_EQ(readCommandLine("/URL:HTTP://a.example").serverOverride, "https://HTTP://a.example");
    // The switch itself is case-sensitive.
    EXPECT_EQ(readCommandLine("/url:a.example").serverOverride, "");
    // Later tokens win; an empty value does not clear an earlier one.
    EXPECT_EQ(readCommandLine("/URL:a.example /URL:b.example /URL:").serverOverride,
              "https://b.example");
}

TEST(ApplyCommandLine, FillsTheProcessWideState) {
    SetupState saved = setupState();
    std::string savedOverride = serverOverride();

    setupState() = SetupState{};
    serverOverride().clear();
    applyCommandLine("/VERYSILENT /URL:127.0.0.1:9");
    EXPECT_TRUE(setupState().verySilent);
    EXPECT_FALSE(setupState().updaterMode);
    EXPECT_EQ(serverOverride(), "https://127.0.0.1:9");
    EXPECT_EQ(serverOrigin(), "https://127.0.0.1:9");

    applyCommandLine("/UPDATER");  // no override given: the current one stays
    EXPECT_TRUE(setupState().updaterMode);
    EXPECT_EQ(serverOverride(), "https://127.0.0.1:9");

    setupState() = saved;
    serverOverride() = savedOverride;
}

TEST(EqualsIgnoringAsciiCase, ComparesOnlyAsciiLettersLoosely) {
    EXPECT_TRUE(equalsIgnoringAsciiCase("AbC", "aBc"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("abc", "abcd"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by 0x20 too
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));  // Ä and ä are different bytes
}

}  // namespace
}  // namespace tessaryn
