// The environment handed to elevated commands: references expanded against given values only,
// names alike in any case, and the block in the order and form CreateProcessW reads.
#include <gtest/gtest.h>

#include <vector>

#include "system/environment_block.h"

namespace tessaryn {
namespace {

std::wstring blockOf(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& values) {
    std::wstring block;
    for (const auto& [name, value] : values) setValue(block, name, value);
    return block;
}

TEST(EnvironmentBlock, ReferencesExpandAgainstTheGivenValuesOnly) {
    const std::wstring names = blockOf({{L"SystemRoot", L"C:\\Windows"}, {L"Pct", L"%Pct%"}});
    struct Case {
        const wchar_t* text;
        const wchar_t* expanded;
    };
    for (const Case& c : std::vector<Case>{
             {L"%SystemRoot%\\system32", L"C:\\Windows\\system32"},
             {L"%SYSTEMROOT%;%systemroot%", L"C:\\Windows;C:\\Windows"},
             {L"%Missing%\\x", L"%Missing%\\x"},
             {L"%Missing%%SystemRoot%", L"%Missing%C:\\Windows"},
             {L"50% of %SystemRoot%", L"50% of C:\\Windows"},
             {L"100%", L"100%"},
             {L"%", L"%"},
             {L"%%", L"%%"},
             {L"%SystemRoot%%", L"C:\\Windows%"},
             {L"%SystemRoo%", L"%SystemRoo%"},
             // What a value brings in is not read again.
             {L"%Pct%", L"%Pct%"},
             {L"", L""}}) {
        EXPECT_EQ(expandReferences(c.text, names), c.expanded) << c.text;
    }
}

TEST(EnvironmentBlock, MachineValuesExpandAgainstEachOtherAndKeepGivenFacts) {
    std::wstring block = blockOf({{L"SystemRoot", L"C:\\Windows"}});
    addValues(block, blockOf({{L"SystemDrive", L"D:"}, {L"Raw", L"%SystemRoot%"},
                              {L"SYSTEMROOT", L"C:\\planted"}}),
              blockOf({{L"Path", L"%Tools%;%SystemRoot%\\system32"},
                       {L"Tools", L"%Base%\\tools"},
                       {L"Base", L"%SystemDrive%\\base"},
                       {L"Loop", L"%Loop%x"},
                       {L"Missing", L"%Nowhere%\\y"}}));
    for (const auto& [name, value] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
             {L"PATH", L"D:\\base\\tools;C:\\Windows\\system32"},
             {L"tools", L"D:\\base\\tools"},
             {L"Raw", L"%SystemRoot%"},
             {L"SystemRoot", L"C:\\Windows"},
             {L"Missing", L"%Nowhere%\\y"}}) {
        ASSERT_NE(valueOf(block, name), nullptr) << name;
        EXPECT_EQ(std::wstring(valueOf(block, name)), value) << name;
    }
    EXPECT_EQ(std::wstring(valueOf(block, L"Loop")).substr(0, 6), L"%Loop%");
}

TEST(EnvironmentBlock, SortedByNameInAnyCaseEachEndedByAZero) {
    std::wstring block =
        blockOf({{L"b", L"2"}, {L"TEMP", L"C:\\Users\\u\\Temp"}, {L"A_", L"1"}, {L"a", L"0"},
                 {L"", L"no name"}, {L"x=y", L"no name either"}});
    setValue(block, L"temp", L"C:\\Windows\\Temp\\w");
    EXPECT_EQ(finishedBlock(block),
              std::wstring(L"a=0\0A_=1\0b=2\0temp=C:\\Windows\\Temp\\w\0\0", 37));
    EXPECT_EQ(valueOf(block, L"x"), nullptr);
    EXPECT_EQ(finishedBlock({}), std::wstring(L"\0\0", 2));
}

}  // namespace
}  // namespace tessaryn
