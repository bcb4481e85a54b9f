// Path cutting, the web-address check and the clean-up script text.
#include <gtest/gtest.h>

#include <set>

#include "system/cleanup_script.h"
#include "system/path_parts.h"
#include "system/web_address.h"

namespace tessaryn {
namespace {

TEST(PathParts, BaseNameStopsAtTheFirstDot) {
    EXPECT_EQ(baseNameOf(L"C:\\Apps\\Tessaryn.1.2.exe"), L"Tessaryn");
    EXPECT_EQ(baseNameOf(L"C:\\Apps\\unins000.exe"), L"unins000");
    EXPECT_EQ(baseNameOf(L"C:/mixed\\dir.v2/setup"), L"setup");
    EXPECT_EQ(baseNameOf(L"plain"), L"plain");
    EXPECT_EQ(baseNameOf(L"C:\\dir\\.hidden"), L"");
}

TEST(PathParts, DirectoryIsTheTextBeforeTheLastSeparator) {
    EXPECT_EQ(directoryOf(L"C:\\Program Files\\Tessaryn\\unins000.exe"),
              L"C:\\Program Files\\Tessaryn");
    EXPECT_EQ(directoryOf(L"C:\\a/b\\c/d.exe"), L"C:\\a/b\\c");
    EXPECT_EQ(directoryOf(L"setup.exe"), L"setup.exe");
    EXPECT_EQ(directoryOf(L"C:\\dir\\"), L"C:\\dir");
    EXPECT_TRUE(hasSeparator(L"a/b"));
    EXPECT_FALSE(hasSeparator(L"ab.exe"));
}

TEST(WebAddress, AcceptsHttpAndHttpsInAnyCase) {
    EXPECT_TRUE(isWebAddress("https://tessaryn.example/news"));
    EXPECT_TRUE(isWebAddress("http://127.0.0.1:8080/"));
    EXPECT_TRUE(isWebAddress("HTTPS://TESSARYN.EXAMPLE"));
    EXPECT_TRUE(isWebAddress("hTtP://x"));
}

TEST(WebAddress, RejectsEverythingElse) {
    for (const char* address :
         {"", "http", "https:", "http://", "https://", "https:///etc/passwd", "http:\\\\host",
          "file:///C:/Windows/System32/calc.exe", "C:\\Windows\\System32\\calc.exe",
          "\\\\server\\share\\run.exe", "javascript:alert(1)", "ftp://host/x", " https://x",
          "httpsx://host", "calc.exe", "https://host/\r\nnext", "mailto:a@b"}) {
        EXPECT_FALSE(isWebAddress(address)) << address;
    }
}

TEST(WebAddress, PlainAddressesHaveNoShellCharacters) {
    EXPECT_TRUE(isPlainWebAddress("http://127.0.0.1:8080"));
    EXPECT_TRUE(isPlainWebAddress("https://h.example/a/b?x=1#top"));
    for (const char* address :
         {"https://h/x&calc", "https://h/x|calc", "https://h/%OS%", "https://h/x^y",
          "https://h/!x!", "https://h/(x)", "https://h/x\"y", "https://h/x y", "https://h/x<y",
          "https://h/x>y", "https://h/x;y", "https://h/x,y", "https://h/x'y", "https://h/\xC3\xA9",
          "calc.exe"}) {
        EXPECT_FALSE(isPlainWebAddress(address)) << address;
    }
}

TEST(CleanupScript, TakesPathsOnlyFromItsVariablesAndGivesUp) {
    std::string text = cleanupScriptText();
    // Every expansion is a delayed one of the script's own variables: no path is in the text.
    EXPECT_EQ(text.find('%'), std::string::npos);
    const std::set<std::string> known = {"TESSARYN_PROGRAM", "TESSARYN_INSTALL_DIR",
                                         "TESSARYN_PING", "tries"};
    for (size_t open = text.find('!'); open != std::string::npos; open = text.find('!', open)) {
        size_t close = text.find('!', open + 1);
        ASSERT_NE(close, std::string::npos);
        EXPECT_TRUE(known.count(text.substr(open + 1, close - open - 1))) << text.substr(open);
        open = close + 1;
    }
    EXPECT_NE(text.find("del /f /q \"!TESSARYN_PROGRAM!\""), std::string::npos);
    EXPECT_NE(text.find("if !tries! geq " + std::to_string(kCleanupDeleteTries) + " goto removed"),
              std::string::npos);
    // No bare LF: cmd.exe expects CR LF throughout.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            EXPECT_EQ(text[i - 1], '\r') << "at " << i;
        }
    }
}

}  // namespace
}  // namespace tessaryn
