// Path cutting, the web-address check, the clean-up script text and the run log's lines.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>
#include <set>

#include "system/ascii_text.h"
#include "system/cleanup_script.h"
#include "system/held_files.h"
#include "system/path_parts.h"
#include "system/side_folder_name.h"
#include "system/run_log.h"
#include "system/web_address.h"

namespace tessaryn {
namespace {

TEST(HeldFiles, HoldersNamedUpToTheBound) {
    const FileHolder notepad{"Notepad", 1234};
    const FileHolder shell{"Windows Explorer", 8};
    const FileHolder console{"Console Window Host", 4294967295UL};
    struct Case {
        std::vector<FileHolder> holders;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{
             {{}, ""},
             {{notepad}, " (Notepad, process 1234)"},
             {{notepad, shell, console},  // exactly the bound: all named, nothing left out
              " (Notepad, process 1234; Windows Explorer, process 8; Console Window Host, "
              "process 4294967295)"},
             {{notepad, shell, console, notepad},
              " (Notepad, process 1234; Windows Explorer, process 8; Console Window Host, "
              "process 4294967295; ...)"}})
        EXPECT_EQ(holderList(c.holders), c.text) << c.holders.size();
    static_assert(kNamedHolders == 3, "the rows above name the bound");
}

TEST(AsciiText, OnlyAsciiLettersChangeCase) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    for (const Case& c : std::vector<Case>{{"AbC", "aBc", true},
                                           {"abc", "abcd", false},
                                           {"[", "{", false},  // 0x5B and 0x7B differ by 0x20 too
                                           {"@`", "@`", true},
                                           {"\xC3\x84", "\xC3\xA4", false}}) {  // Ä and ä
        EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(lowerCaseAscii(c.a) == lowerCaseAscii(c.b), c.equal) << c.a << " " << c.b;
    }
    EXPECT_EQ(lowerCaseAscii("\xC3\x84-Suite 2.X_Pro[Z]"), "\xC3\x84-suite 2.x_pro[z]");
    EXPECT_TRUE(startsWithIgnoringAsciiCase("HTTPS://a", "https://"));
    EXPECT_FALSE(startsWithIgnoringAsciiCase("http", "https://"));
    const uint8_t bytes[] = {0x00, 0x0A, 0x10, 0xAB, 0xFF, 0x7F};
    EXPECT_EQ(upperHex(bytes, sizeof(bytes)), "000A10ABFF7F");
    EXPECT_EQ(lowerHex(bytes, sizeof(bytes)), "000a10abff7f");
    EXPECT_EQ(upperHex(bytes, 0), "");
}

// Each digit range's edges, each case rule and the exact length.
TEST(AsciiText, HexDecodesExactlyItsDigits) {
    struct Case {
        const char* text;
        HexLetters letters;
        bool decoded;
        uint8_t first;
    };
    for (const Case& c : std::vector<Case>{{"09af", HexLetters::LowerOnly, true, 0x09},
                                           {"AF09", HexLetters::AnyCase, true, 0xAF},
                                           {"Af09", HexLetters::LowerOnly, false, 0},
                                           {"/009", HexLetters::AnyCase, false, 0},
                                           {":009", HexLetters::AnyCase, false, 0},
                                           {"@009", HexLetters::AnyCase, false, 0},
                                           {"G009", HexLetters::AnyCase, false, 0},
                                           {"`009", HexLetters::AnyCase, false, 0},
                                           {"g009", HexLetters::AnyCase, false, 0},
                                           {"000g", HexLetters::AnyCase, false, 0},
                                           {"09a", HexLetters::AnyCase, false, 0},
                                           {"09af0", HexLetters::AnyCase, false, 0}}) {
        uint8_t bytes[2] = {};
        EXPECT_EQ(decodeHex(c.text, bytes, sizeof bytes, c.letters), c.decoded) << c.text;
        if (c.decoded) {
            EXPECT_EQ(bytes[0], c.first) << c.text;
        }
    }
    uint8_t bytes[2] = {};
    ASSERT_TRUE(decodeHex("09af", bytes, sizeof bytes));
    EXPECT_EQ(bytes[1], 0xAF);
}

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

// A root keeps its separator: without it, "C:" names the drive's current folder.
TEST(PathParts, TrailingSeparatorsGoButARootKeepsItsOwn) {
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"C:\\Program Files\\Tessaryn\\", L"C:\\Program Files\\Tessaryn"},
        {L"C:\\Tessaryn\\/\\", L"C:\\Tessaryn"},
        {L"C:\\Tessaryn", L"C:\\Tessaryn"},
        {L"C:\\", L"C:\\"},
        {L"C:\\\\", L"C:\\"},
        {L"D:/", L"D:/"},
        {L"\\\\?\\C:\\", L"\\\\?\\C:\\"},
        {L"\\\\server\\share\\", L"\\\\server\\share"},
        {L"\\", L"\\"},
        {L"ab\\", L"ab"},
        {L"", L""},
    };
    for (const auto& [path, expected] : rows)
        EXPECT_EQ(withoutTrailingSeparator(path), expected) << path;
}

// Only folders made for this very product are ever taken for leftovers and removed.
TEST(SideFolderName, OnlyTheProductsOwnNamesAreRecognised) {
    const std::wstring digits(32, L'7');
    EXPECT_EQ(sideFolderName(L"Tessaryn", SideFolderKind::Staging, digits),
              L".Tessaryn-staging-" + digits);
    EXPECT_EQ(sideFolderKindOf(L".Tessaryn-staging-" + digits, L"Tessaryn"),
              SideFolderKind::Staging);
    EXPECT_EQ(sideFolderKindOf(L".tessaryn-backup-0123456789abcdef0123456789abcdef", L"Tessaryn"),
              SideFolderKind::Backup);
    // A product whose name holds the other kind's word is still read by its own suffix.
    EXPECT_EQ(sideFolderKindOf(L".A-backup-B-staging-" + digits, L"A-backup-B"),
              SideFolderKind::Staging);
    for (const std::wstring& name :
         {L".Tessaryn-staging-" + digits.substr(1), L".Tessaryn-staging-" + digits + L"0",
          L".Tessaryn-staging-" + std::wstring(32, L'A'), L"Tessaryn-staging-" + digits,
          L".Tessaryn Pro-staging-" + digits, L".Tessaryn-stage-" + digits,
          L".Tessaryn-backup-" + std::wstring(31, L'0') + L"g", std::wstring(L".Tessaryn"),
          L"XTessaryn-staging-" + digits})
        EXPECT_FALSE(sideFolderKindOf(name, L"Tessaryn")) << std::string(name.begin(), name.end());
    EXPECT_FALSE(sideFolderKindOf(L".-staging-" + digits, L""));
    const unsigned char bytes[] = {0x00, 0x9f, 0xa0, 0xff};
    EXPECT_EQ(hexDigits(bytes, 4), L"009fa0ff");
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
          "httpsx://host", "calc.exe", "https://host/\r\nnext", "mailto:a@b",
          "https://\\\\server\\share", "https://host/\x7f", "https://host/\x1f"}) {
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
    EXPECT_NE(text.find("if !tries! geq " + std::to_string(kCleanupDeleteTries) + " exit /b 1"),
              std::string::npos);
    // No bare LF: cmd.exe expects CR LF throughout.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            EXPECT_EQ(text[i - 1], '\r') << "at " << i;
        }
    }
}

TEST(RunLog, LinesAreStampedEscapedAndBounded) {
    const LocalTime t{2026, 3, 7, 9, 5, 4, 12};
    EXPECT_EQ(formatLogLine(t, "Exit code 0"), "2026-03-07 09:05:04.012  Exit code 0\r\n");
    // One step stays one line: breaks are written out, other control characters masked.
    EXPECT_EQ(formatLogLine(t, "a\r\nb\tc\x1b\x7f\xc3\xa9"),
              "2026-03-07 09:05:04.012  a\\nb?c??\xc3\xa9\r\n");
    // A long text is cut at the bound, never inside a UTF-8 sequence.
    const std::string longText = std::string(kMaxLogTextBytes - 1, 'x') + "\xc3\xa9tail";
    const std::string line = formatLogLine(t, longText);
    EXPECT_EQ(line, "2026-03-07 09:05:04.012  " + std::string(kMaxLogTextBytes - 1, 'x') +
                        " [...]\r\n");
    EXPECT_EQ(formatLogLine(t, std::string(kMaxLogTextBytes, 'y')).find("[...]"),
              std::string::npos);
    EXPECT_EQ(defaultLogFileName("Tessaryn", t, 1), "Tessaryn Setup Log 2026-03-07 #001.txt");
    EXPECT_EQ(defaultLogFileName("Tessaryn", t, 999), "Tessaryn Setup Log 2026-03-07 #999.txt");
}

TEST(RunLog, ThreadsWriteWholeLinesAndAFailedWriteEndsTheLog) {
    logLine("before any log: goes nowhere");
    std::vector<std::string> lines;
    setLogWriter([&lines](std::string_view line) {
        lines.emplace_back(line);
        return true;
    });
    ASSERT_TRUE(logActive());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                logLine("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(lines.size(), 1600u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("\r\n"), line.size() - 2) << line;
        EXPECT_NE(line.find("  thread "), std::string::npos) << line;
    }

    int calls = 0;
    setLogWriter([&calls](std::string_view) { return ++calls > 1; });  // the first write fails
    logLine("lost");
    logLine("not attempted");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(logActive());
}

}  // namespace
}  // namespace tessaryn
