// The uninstall record, read back with the registry API.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "system/handles_win.h"
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

void expectDwordOne(const std::wstring& keyName, const wchar_t* name) {
    auto value = readValue(keyName, name);
    ASSERT_TRUE(value) << "missing value";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value->size, 4u);
    EXPECT_EQ(value->number, 1u);
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
    ASSERT_TRUE(registerUninstallEntry(kName, L"C:\\Program Files\\Tessaryn\\unins000.exe",
                                       L"Corvalis Ltd", L"2.4.1", L"https://tessaryn.example/",
                                       L"C:\\Program Files\\Tessaryn\\Tessaryn.exe,0"));
    expectString(kName, L"DisplayName", kName);
    expectString(kName, L"UninstallString", L"C:\\Program Files\\Tessaryn\\unins000.exe");
    expectString(kName, L"DisplayIcon", L"C:\\Program Files\\Tessaryn\\Tessaryn.exe,0");
    expectString(kName, L"Publisher", L"Corvalis Ltd");
    expectString(kName, L"DisplayVersion", L"2.4.1");
    expectString(kName, L"URLInfoAbout", L"https://tessaryn.example/");
    expectString(kName, L"InstallDate", today());
    expectDwordOne(kName, L"NoRepair");
    expectDwordOne(kName, L"NoModify");
}

TEST_F(UninstallRecord, EmptyOptionalValuesAreAbsent) {
    ASSERT_TRUE(registerUninstallEntry(kName, L"C:\\T\\unins000.exe", L"", L"", L"", L""));
    expectString(kName, L"DisplayName", kName);
    expectString(kName, L"UninstallString", L"C:\\T\\unins000.exe");
    expectString(kName, L"InstallDate", today());
    expectDwordOne(kName, L"NoRepair");
    expectDwordOne(kName, L"NoModify");
    for (const wchar_t* name : {L"DisplayIcon", L"Publisher", L"DisplayVersion", L"URLInfoAbout"})
        EXPECT_FALSE(readValue(kName, name)) << "unexpected value";
}

TEST_F(UninstallRecord, SecondRegistrationOverwritesAndDropsStaleValues) {
    ASSERT_TRUE(registerUninstallEntry(kName, L"C:\\Old\\unins000.exe", L"Old Publisher", L"1.0",
                                       L"https://old.example/", L"C:\\Old\\icon.ico"));
    ASSERT_TRUE(registerUninstallEntry(kName, L"C:\\New\\unins000.exe", L"New Publisher", L"",
                                       L"https://new.example/", L""));
    expectString(kName, L"UninstallString", L"C:\\New\\unins000.exe");
    expectString(kName, L"Publisher", L"New Publisher");
    expectString(kName, L"URLInfoAbout", L"https://new.example/");
    // A version or icon of the earlier installation must not linger in the list.
    EXPECT_FALSE(readValue(kName, L"DisplayVersion"));
    EXPECT_FALSE(readValue(kName, L"DisplayIcon"));
}

TEST_F(UninstallRecord, KeyThatCannotBeCreatedGivesFalse) {
    // Key names are limited to 255 characters, so this key cannot be created.
    std::wstring tooLong(300, L'x');
    EXPECT_FALSE(registerUninstallEntry(tooLong, L"C:\\T\\unins000.exe", L"", L"", L"", L""));
}

}  // namespace
}  // namespace tessaryn
