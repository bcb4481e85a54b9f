#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/installer_urls.h"
#include "app/setup_settings.h"

namespace tessaryn {
namespace {

class SetupSettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tessaryn-settings-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path dir_;
};

TEST_F(SetupSettingsTest, ReadsEveryKeyOfAFullFile) {
    SetupSettings settings;
    ASSERT_TRUE(settings.load(write("setup.dat", R"({
        "prod": "Tessaryn", "eula": "Terms\nMore", "ver": "2.4.1",
        "init": ["a.exe /x", "b"], "post": [], "www": "https://tessaryn.example",
        "desk": false, "metric": true, "extra": 5})")));
    EXPECT_EQ(settings.getString("prod", ""), "Tessaryn");
    EXPECT_EQ(settings.getString("eula", ""), "Terms\nMore");
    EXPECT_EQ(settings.getString("ver", "x"), "2.4.1");
    EXPECT_EQ(settings.getStringArray("init", {}), (std::vector<std::string>{"a.exe /x", "b"}));
    EXPECT_TRUE(settings.getStringArray("post", {"default"}).empty());
    EXPECT_FALSE(settings.getBool("desk"));
    EXPECT_TRUE(settings.getBool("metric"));
}

TEST_F(SetupSettingsTest, KeysOfAnotherTypeGiveTheDefault) {
    SetupSettings settings;
    ASSERT_TRUE(
        settings.load(write("setup.dat", R"({"desk": "no", "metric": 0, "prod": 7, "init": ["a", 1],
                               "post": "cmd", "www": null})")));
    EXPECT_TRUE(settings.getBool("desk"));
    EXPECT_TRUE(settings.getBool("metric"));
    EXPECT_TRUE(settings.getBool("absent"));
    EXPECT_EQ(settings.getString("prod", "fallback"), "fallback");
    EXPECT_EQ(settings.getString("www", ""), "");
    EXPECT_EQ(settings.getStringArray("init", {"d"}), std::vector<std::string>{"d"});
    EXPECT_EQ(settings.getStringArray("post", {}), std::vector<std::string>{});
}

TEST_F(SetupSettingsTest, MissingOrEmptyFileIsNotLoaded) {
    SetupSettings settings;
    EXPECT_FALSE(settings.load((dir_ / "absent.dat").string()));
    EXPECT_FALSE(settings.load(write("empty.dat", "")));
    EXPECT_FALSE(settings.loaded());
    EXPECT_EQ(settings.getString("prod", "d"), "d");
    EXPECT_TRUE(settings.getBool("desk"));
}

TEST_F(SetupSettingsTest, ParseErrorLoadsADocumentWithoutKeys) {
    SetupSettings settings;
    ASSERT_TRUE(settings.load(write("good.dat", R"({"prod": "Old", "desk": false})")));
    // Text that is not JSON, such as a file whose signature was not taken off.
    EXPECT_TRUE(settings.load(write("bad.dat", "{\"prod\": \"New\"\x01\x02 trailing")));
    EXPECT_EQ(settings.getString("prod", ""), "");
    EXPECT_TRUE(settings.getBool("desk"));
    // A document that is valid JSON but not an object has no keys either.
    EXPECT_TRUE(settings.load(write("array.dat", R"(["prod", "Tessaryn"])")));
    EXPECT_EQ(settings.getString("prod", "none"), "none");
}

TEST_F(SetupSettingsTest, ReadsAFileWhosePathIsNotAscii) {
    // The temporary folder lies under the user's name, which may hold any letter.
    const std::string name = "Lizenz-\xC3\xBC-\xE6\x97\xA5.dat";
    const std::filesystem::path path =
        dir_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
    std::ofstream(path, std::ios::binary) << R"({"eula": "Gr\u00fc\u00dfe \u2013 ok"})";
    const std::u8string utf8Path = path.u8string();

    SetupSettings settings;
    ASSERT_TRUE(settings.load(std::string(utf8Path.begin(), utf8Path.end())));
    EXPECT_EQ(settings.getString("eula", ""),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x80\x93 ok");
}

// Mirrors are addresses the setup will request: only plain http(s) ones, in order, a bounded
// number of bounded length; anything else is left out on its own.
TEST(PackageMirrors, KeepsUsableAddressesInOrderAndLeavesOutTheRest) {
    const std::string longest = "https://m.example/" + std::string(kLongestMirror - 18, 'a');
    nlohmann::json list = {"https://a.example/t.pak", "ftp://b.example/t.pak", "http://",
                           5, "https://c.example/t .pak", "https://d.example/t\r\nX: y",
                           longest + "a", longest, "HTTP://e.example:8080/t.pak",
                           "file:///C:/t.pak", nullptr};
    for (int i = 0; i < 10; ++i) list.push_back("https://f" + std::to_string(i) + ".example/t.pak");
    const nlohmann::json document = {{"mirrors", list}};
    SetupSettings settings;
    const std::string text = document.dump();
    ASSERT_TRUE(settings.loadBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    std::vector<std::string> expected = {"https://a.example/t.pak", longest,
                                         "HTTP://e.example:8080/t.pak"};
    for (int i = 0; i < 5; ++i)
        expected.push_back("https://f" + std::to_string(i) + ".example/t.pak");
    EXPECT_EQ(packageMirrors(settings), expected);

    for (const char* other : {R"({})", R"({"mirrors": "https://a.example/t.pak"})",
                              R"({"mirrors": []})"}) {
        SetupSettings none;
        none.loadBytes(reinterpret_cast<const uint8_t*>(other), strlen(other));
        EXPECT_TRUE(packageMirrors(none).empty()) << other;
    }
}

}  // namespace
}  // namespace tessaryn

namespace tessaryn {
namespace {

// The license of the run's language, the tag in any case; else "eula", also when "eulas" holds
// the language's text in another type or is no object.
TEST(SetupSettings, LicenseOfTheLanguageElseTheDefaultOne) {
    struct Case {
        const char* document;
        const char* tag;
        const char* expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {R"({"eula": "E", "eulas": {"de": "D", "pt-BR": "B"}})", "de", "D"},
             {R"({"eula": "E", "eulas": {"de": "D", "pt-br": "B"}})", "pt-BR", "B"},
             {R"({"eula": "E", "eulas": {"pt-BR": "B"}})", "pt-PT", "E"},
             {R"({"eula": "E", "eulas": {"zh-CN": "S"}})", "zh-TW", "E"},
             {R"({"eula": "E", "eulas": {"de": 1}})", "de", "E"},
             {R"({"eula": "E", "eulas": ["de"]})", "de", "E"},
             {R"({"eulas": {"fr": "F"}})", "de", ""},
         }) {
        SetupSettings settings;
        settings.loadBytes(reinterpret_cast<const uint8_t*>(c.document), std::strlen(c.document));
        EXPECT_EQ(settings.licenseText(c.tag), c.expected) << c.document << " " << c.tag;
    }
}

}  // namespace
}  // namespace tessaryn
