// The uninstall record, read back with the registry API.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "system/handles_win.h"
#include "system/file_tree_win.h"
#include "system/registry_win.h"

namespace tessaryn {
namespace {

const std::wstring kName = L"Tessaryn Registry Test \x00e9";

struct Value {
    DWORD type = 0;
    DWORD size = 0;
    std::wstring text;
    DWORD number = 0;
};

std::optional<Value> readValue(const std::wstring& keyName, const wchar_t* valueName) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstallKeyPath(keyName).c_str(), 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Value value;
    BYTE data[2048] = {};
    value.size = sizeof(data);
    if (::RegQueryValueExW(key.get(), valueName, nullptr, &value.type, data, &value.size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (value.type == REG_SZ) {
        value.text = std::wstring(reinterpret_cast<const wchar_t*>(data));
    } else if (value.type == REG_DWORD) {
        std::memcpy(&value.number, data, sizeof(DWORD));
    }
    return value;
}

void expectString(const std::wstring& keyName, const wchar_t* name, const std::wstring& text) {
    auto value = readValue(keyName, name);
    ASSERT_TRUE(value) << "missing value";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->text, text);
    EXPECT_EQ(value->size, (text.size() + 1) * 2) << "size must count the terminating NUL";
}

void expectDword(const std::wstring& keyName, const wchar_t* name, DWORD number) {
    auto value = readValue(keyName, name);
    ASSERT_TRUE(value) << "missing value";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value->size, 4u);
    EXPECT_EQ(value->number, number);
}

// A record of the two values that are always written.
tessaryn::UninstallRecord bareRecord(const std::wstring& name) {
    tessaryn::UninstallRecord record;
    record.displayName = name;
    record.uninstaller = L"C:\\T\\unins000.exe";
    return record;
}

std::wstring today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    wchar_t text[16] = {};
    std::wcsftime(text, 16, L"%Y%m%d", &local);
    return text;
}

class UninstallRecord : public ::testing::Test {
  protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKeyPath(kName).c_str()); }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKeyPath(kName).c_str());
    }
};

TEST_F(UninstallRecord, EveryValueWithItsTypeAndSize) {
    const tessaryn::UninstallRecord record{kName,
                           L"C:\\Program Files\\Tessaryn\\unins000.exe",
                           L"C:\\Program Files\\Tessaryn",
                           L"Corvalis Ltd",
                           L"2.4.1",
                           L"https://tessaryn.example/",
                           L"https://tessaryn.example/help",
                           L"C:\\Program Files\\Tessaryn\\Tessaryn.exe,0",
                           kilobytesOf(5 * 1024 * 1024 + 1)};
    ASSERT_TRUE(registerUninstallEntry(record, false));
    expectString(kName, L"DisplayName", kName);
    // Quoted: the path has spaces, and the "Installed apps" page runs the text as a command line.
    expectString(kName, L"UninstallString", L"\"C:\\Program Files\\Tessaryn\\unins000.exe\"");
    expectString(kName, L"QuietUninstallString",
                 L"\"C:\\Program Files\\Tessaryn\\unins000.exe\" /VERYSILENT");
    expectString(kName, L"InstallLocation", L"C:\\Program Files\\Tessaryn");
    expectString(kName, L"DisplayIcon", L"C:\\Program Files\\Tessaryn\\Tessaryn.exe,0");
    expectString(kName, L"Publisher", L"Corvalis Ltd");
    expectString(kName, L"DisplayVersion", L"2.4.1");
    expectString(kName, L"URLInfoAbout", L"https://tessaryn.example/");
    expectString(kName, L"HelpLink", L"https://tessaryn.example/help");
    expectString(kName, L"InstallDate", today());
    expectDword(kName, L"NoRepair", 1);
    expectDword(kName, L"NoModify", 1);
    expectDword(kName, L"EstimatedSize", 5 * 1024 + 1);  // a started kibibyte counts whole
}

TEST(EstimatedSize, KibibytesRoundUpAndStopAtTheDwordLimit) {
    EXPECT_EQ(kilobytesOf(0), 0u);
    EXPECT_EQ(kilobytesOf(1), 1u);
    EXPECT_EQ(kilobytesOf(1024), 1u);
    EXPECT_EQ(kilobytesOf(1025), 2u);
    EXPECT_EQ(kilobytesOf(uint64_t{0xFFFFFFFF} * 1024), 0xFFFFFFFFu);
    EXPECT_EQ(kilobytesOf(uint64_t{0xFFFFFFFF} * 1024 + 1), 0xFFFFFFFFu);
}

TEST_F(UninstallRecord, EmptyOptionalValuesAreAbsent) {
    ASSERT_TRUE(registerUninstallEntry(bareRecord(kName), false));
    expectString(kName, L"DisplayName", kName);
    expectString(kName, L"UninstallString", L"\"C:\\T\\unins000.exe\"");
    expectString(kName, L"InstallDate", today());
    expectDword(kName, L"NoRepair", 1);
    expectDword(kName, L"NoModify", 1);
    for (const wchar_t* name : {L"DisplayIcon", L"Publisher", L"DisplayVersion", L"URLInfoAbout",
                                L"HelpLink", L"InstallLocation", L"EstimatedSize"})
        EXPECT_FALSE(readValue(kName, name)) << "unexpected value";
}

TEST_F(UninstallRecord, SecondRegistrationOverwritesAndDropsStaleValues) {
    const tessaryn::UninstallRecord old{kName,
                                        L"C:\\Old\\unins000.exe",
                                        L"C:\\Old",
                                        L"Old Publisher",
                                        L"1.0",
                                        L"https://old.example/",
                                        L"https://old.example/help",
                                        L"C:\\Old\\icon.ico",
                                        7};
    ASSERT_TRUE(registerUninstallEntry(old, false));
    const tessaryn::UninstallRecord newer{kName, L"C:\\New\\unins000.exe", L"C:\\New",
                                          L"New Publisher", L"", L"https://new.example/",
                                          L"", L"", 0};
    ASSERT_TRUE(registerUninstallEntry(newer, false));
    expectString(kName, L"UninstallString", L"\"C:\\New\\unins000.exe\"");
    expectString(kName, L"Publisher", L"New Publisher");
    expectString(kName, L"URLInfoAbout", L"https://new.example/");
    // A version or icon of the earlier installation must not linger in the list.
    EXPECT_FALSE(readValue(kName, L"DisplayVersion"));
    EXPECT_FALSE(readValue(kName, L"DisplayIcon"));
    EXPECT_FALSE(readValue(kName, L"HelpLink"));
    EXPECT_FALSE(readValue(kName, L"EstimatedSize"));
}

TEST_F(UninstallRecord, KeyThatCannotBeCreatedGivesFalse) {
    // Key names are limited to 255 characters, so this key cannot be created.
    std::wstring tooLong(300, L'x');
    EXPECT_FALSE(registerUninstallEntry(bareRecord(tooLong), false));
}

}  // namespace
}  // namespace tessaryn
