// Windows only: the locked view of a checked file keeps writers and deleters out.
#include <windows.h>

#include <gtest/gtest.h>

#include "package/locked_file.h"
#include "package/path_text.h"
#include "system/handles_win.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using namespace test;

// While the checked view is held, no other handle can write, truncate, rename or delete the file;
// once it is released, all of that works again.
TEST(LockedFileWindows, LockedViewKeepsWritersAndDeletersOut) {
    ScratchFolder scratch;
    const fs::path path = scratch.path() / "setup.pak";
    const fs::path moved = scratch.path() / "moved.pak";
    const auto bytes = patternBytes(5000, 12);
    writeBytes(path, bytes);
    {
        auto view = LockedFile::open(pathText(path));
        ASSERT_TRUE(view);
        EXPECT_EQ(std::vector<uint8_t>(view->data(), view->data() + view->size()), bytes);
        UniqueFile writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(writer);
        EXPECT_FALSE(::DeleteFileW(path.c_str()));
        EXPECT_FALSE(::MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
        UniqueFile reader(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(reader);  // reading alongside is fine
    }
    EXPECT_TRUE(::MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(::DeleteFileW(moved.c_str()));
}

}  // namespace
}  // namespace tessaryn
