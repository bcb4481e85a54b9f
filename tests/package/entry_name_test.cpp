// Entry names that would leave the destination folder.
#include "package/entry_name.h"

#include <gtest/gtest.h>

namespace tessaryn {
namespace {

TEST(EntryName, NamesInsideTheDestinationPass) {
    for (const char* name : {"", "a", "a/b/c.txt", "a\\b\\c.txt", "./a", "a/../b", "a/b/../../c",
                             "dir/", "Ünïcode/✓.txt", "a..b", ".hidden", "a/./b", "console",
                             "NULL.txt", "com10", "lpt10", "aux_dir/x",
                             "COM\xE2\x81\xB4", "LPT\xC2\xB9x"}) {
        EXPECT_EQ(entryNameEscapeReason(name), "") << name;
    }
}

TEST(EntryName, NamesReachingOutsideAreRefused) {
    for (const char* name : {"..",
                             "../evil",
                             "..\\evil",
                             "a/../../evil",
                             "a\\..\\..\\evil",
                             "a/..\\../evil",
                             "/abs",
                             "\\abs",
                             "\\\\server\\share\\x",
                             "//server/share",
                             "C:evil",
                             "C:\\Windows\\x",
                             "c:/x",
                             "a/b:stream",
                             "...",
                             "a/.. /b",
                             "a/. ./b",
                             "NUL",
                             "bin/con.txt",
                             "Aux .log",
                             "lpt1/x",
                             "COM9.dll",
                             "com0",
                             "LPT0.txt",
                             "a/COM\xC2\xB9",
                             "lpt\xC2\xB2.dll",
                             "Com\xC2\xB3 .x"}) {
        EXPECT_NE(entryNameEscapeReason(name), "") << name;
    }
}

}  // namespace
}  // namespace tessaryn
