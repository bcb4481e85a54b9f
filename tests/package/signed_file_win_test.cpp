// Windows only: a file that another handle holds without sharing keeps its signature.
#include <windows.h>

#include <gtest/gtest.h>

#include "package/signed_file.h"
#include "system/handles_win.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using namespace test;

TEST(SignedFileWindows, LockedFileIsLeftWhole) {
    ScratchFolder scratch;
    const fs::path path = scratch.path() / "locked.dat";
    const auto bytes = patternBytes(500, 9);
    writeBytes(path, bytes);
    {
        UniqueFile holder(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_TRUE(takeTrailingSignature(path).empty());
    }
    EXPECT_EQ(readBytes(path), bytes);
    EXPECT_EQ(takeTrailingSignature(path).size(), kSignatureBytes);
    EXPECT_EQ(readBytes(path).size(), bytes.size() - kSignatureBytes);
}

}  // namespace
}  // namespace tessaryn
