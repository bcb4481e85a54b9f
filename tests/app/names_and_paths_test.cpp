#include <gtest/gtest.h>

#include "app/installer_urls.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "system/path_parts.h"
#include "app/web_origin.h"

namespace tessaryn {
namespace {

TEST(DownloadUrl, PutsTheInstallersFolderUnderTheOrigin) {
    EXPECT_EQ(buildDownloadUrl("https://downloads.example", "Tessaryn", ".dat"),
              "https://downloads.example/installers/tessaryn.dat");
    EXPECT_EQ(buildDownloadUrl("http://127.0.0.1:8080", "Tessaryn", ".pak"),
              "http://127.0.0.1:8080/installers/tessaryn.pak");
    // An origin written with a closing slash gives no "//installers".
    EXPECT_EQ(buildDownloadUrl("https://mirror.example:8443//", "Tessaryn", ".pak"),
              "https://mirror.example:8443/installers/tessaryn.pak");
    EXPECT_EQ(buildDownloadUrl("https://m.example", "metrics", ""),
              "https://m.example/installers/metrics");
}

TEST(DownloadUrl, LowerCasesOnlyAsciiLettersOfTheName) {
    // "ÄÖ" in UTF-8 keeps its bytes; digits, dashes and dots stay.
    EXPECT_EQ(buildDownloadUrl("https://d.example", "\xC3\x84\xC3\x96-Suite 2.X_Pro", ".pak"),
              "https://d.example/installers/\xC3\x84\xC3\x96-suite 2.x_pro.pak");
    EXPECT_EQ(buildDownloadUrl("https://d.example", "", ".dat"),
              "https://d.example/installers/.dat");
}

TEST(InstallerUrls, LowerCaseProductNameUnderTheOrigin) {
    EXPECT_EQ(installerUrls(originFor(""), "Tessaryn").dat,
              "https://" + webHostName() + "/installers/tessaryn.dat");

    // UTF-8 bytes pass unchanged; a closing slash gives no "//installers".
    const InstallerUrls urls = installerUrls("http://127.0.0.1:8080/", "T\xC3\x84ST Pro");
    EXPECT_EQ(urls.dat, "http://127.0.0.1:8080/installers/t\xC3\x84st pro.dat");
    EXPECT_EQ(urls.pak, "http://127.0.0.1:8080/installers/t\xC3\x84st pro.pak");
    EXPECT_EQ(urls.metrics, "http://127.0.0.1:8080/installers/metrics");
}

TEST(InstallerUrls, TheOverrideReachesEveryAddress) {
    EXPECT_EQ(originFor("mirror.example"), "https://mirror.example");
    EXPECT_EQ(originFor("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/");
    const InstallerUrls urls = installerUrls(originFor("mirror.example"), "Tessaryn");
    EXPECT_EQ(urls.dat, "https://mirror.example/installers/tessaryn.dat");
    EXPECT_EQ(urls.pak, "https://mirror.example/installers/tessaryn.pak");
    EXPECT_EQ(urls.metrics, "https://mirror.example/installers/metrics");
}

TEST(ProductName, AcceptsOrdinaryNames) {
    for (const char* name :
         {"Tessaryn", "T", "Tessaryn Pro 2", "Tes.saryn", "Cone", "CONSOLE", "COM10", "LPT10",
          "COM\xE2\x81\xB4",
          "Gr\xC3\xBC\xC3\x9F"
          "e"}) {
        EXPECT_TRUE(isUsableProductName(name)) << name;
    }
}

TEST(ProductName, RefusesNamesThatCannotBeAFolder) {
    const std::string withControl = std::string("Tes") + '\x1f' + "saryn";
    const std::string withNul = std::string("Tes") + '\0' + "saryn";
    for (const std::string& name : {std::string(),
                                    std::string("."),
                                    std::string(".."),
                                    std::string("..\\Windows"),
                                    std::string("a/b"),
                                    std::string("C:"),
                                    std::string("a*"),
                                    std::string("a?"),
                                    std::string("\"a\""),
                                    std::string("<a>"),
                                    std::string("a|b"),
                                    withControl,
                                    withNul,
                                    std::string("Tessaryn."),
                                    std::string("Tessaryn "),
                                    std::string("nul"),
                                    std::string("CON.txt"),
                                    std::string("com1"),
                                    std::string("Lpt9"),
                                    std::string("COM0"),
                                    std::string("lpt0.log"),
                                    std::string("COM\xC2\xB9"),
                                    std::string("lpt\xC2\xB3.txt"),
                                    std::string("AUX .x"),
                                    std::string("\t")}) {
        EXPECT_FALSE(isUsableProductName(name)) << '"' << name << '"';
    }
}

TEST(SetupPaths, RoleFollowsTheExactBaseName) {
    EXPECT_TRUE(isUninstallerBaseName(baseNameOf(L"C:\\P\\unins000.exe")));
    EXPECT_TRUE(isUninstallerBaseName(baseNameOf(L"C:\\P\\unins000.old.exe")));
    EXPECT_FALSE(isUninstallerBaseName(baseNameOf(L"C:\\P\\UNINS000.exe")));
    EXPECT_FALSE(isUninstallerBaseName(baseNameOf(L"C:\\P\\unins0001.exe")));
}

TEST(SetupPaths, LocalFileNamesCarryTheProductPrefixOnlyForLongNames) {
    EXPECT_EQ(localDatFileName("Tessaryn", false), "Tessaryn-setup.dat");
    EXPECT_EQ(localPakFileName("Tessaryn"), "Tessaryn-setup.pak");
    EXPECT_EQ(localDatFileName("Tessaryn", true), "unins000.dat");
    EXPECT_EQ(localPakFileName("Abc"), "Abc-setup.pak");
    EXPECT_EQ(localPakFileName("Ab"), "setup.pak");
    EXPECT_EQ(localDatFileName("", false), "setup.dat");
    EXPECT_EQ(localDatFileName("\xC3\x9C", false), "setup.dat");  // one letter, two bytes
}

}  // namespace
}  // namespace tessaryn
