#include <gtest/gtest.h>

#include "app/installer_urls.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "system/path_parts.h"
#include "app/setup_state.h"

namespace tessaryn {
namespace {

// Keeps the process-wide state of other tests untouched.
class StateGuard {
  public:
    StateGuard() : state_(setupState()), override_(serverOverride()) {}
    ~StateGuard() {
        setupState() = state_;
        serverOverride() = override_;
    }

  private:
    SetupState state_;
    std::string override_;
};

TEST(InstallerUrls, LowerCaseProductNameUnderTheOrigin) {
    StateGuard guard;
    setupState().productName = "Tessaryn";
    serverOverride().clear();
    EXPECT_EQ(makeInstallerUrl(".dat"), "https://" + webHostName() + "/installers/tessaryn.dat");

    setupState().productName = "T\xC3\x84ST Pro";  // UTF-8 bytes pass unchanged
    serverOverride() = "http://127.0.0.1:8080";
    EXPECT_EQ(makeInstallerUrl(".pak"), "http://127.0.0.1:8080/installers/t\xC3\x84st pro.pak");
    EXPECT_EQ(makeMetricsUrl(), "http://127.0.0.1:8080/installers/metrics");
}

TEST(InstallerUrls, FormedAfterTheOverrideReachEveryAddress) {
    StateGuard guard;
    setupState().productName = "Tessaryn";
    serverOverride() = "mirror.example";
    formInstallerUrls();
    EXPECT_EQ(setupState().datUrl, "https://mirror.example/installers/tessaryn.dat");
    EXPECT_EQ(setupState().pakUrl, "https://mirror.example/installers/tessaryn.pak");
    EXPECT_EQ(setupState().metricsUrl, "https://mirror.example/installers/metrics");

    serverOverride() = "http://127.0.0.1:8080/";  // a closing slash gives no "//installers"
    formInstallerUrls();
    EXPECT_EQ(setupState().pakUrl, "http://127.0.0.1:8080/installers/tessaryn.pak");
    EXPECT_EQ(setupState().metricsUrl, "http://127.0.0.1:8080/installers/metrics");
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
