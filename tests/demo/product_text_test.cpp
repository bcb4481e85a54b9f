#include "demo/product_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaryn {
namespace {

TEST(DemoVersionFile, TakesTheFirstLineWithoutMarkBlanksOrLineEnd) {
    EXPECT_EQ(versionFromFile("1.2\n"), "1.2");
    EXPECT_EQ(versionFromFile("1.2\r\nsecond line\r\n"), "1.2");
    EXPECT_EQ(versionFromFile("\xEF\xBB\xBF  1.3 beta\t\r\n"), "1.3 beta");
    EXPECT_EQ(versionFromFile("1.4"), "1.4");
}

TEST(DemoVersionFile, RefusesEmptyOversizedAndUnprintableContent) {
    EXPECT_EQ(versionFromFile(""), "");
    EXPECT_EQ(versionFromFile("\r\n1.0\r\n"), "");  // the version must be on the first line
    EXPECT_EQ(versionFromFile(std::string(41, '9')), "");
    EXPECT_EQ(versionFromFile(std::string(40, '9')), std::string(40, '9'));
    EXPECT_EQ(versionFromFile(std::string("1.0\0evil", 8)), "");
    EXPECT_EQ(versionFromFile("1.0\x1b[2J"), "");
    EXPECT_EQ(versionFromFile("\xC3\xA9"), "");
}

TEST(DemoWindowText, NamesProductVersionFolderAndFirstRun) {
    EXPECT_EQ(productTitle("1.0"), "Tessaryn 1.0");
    EXPECT_EQ(productTitle(""), "Tessaryn");

    std::string text = productMessage("1.1", "C:\\Program Files\\Tessaryn", "prepared\r\nmore\r\n");
    EXPECT_NE(text.find("Thank you for trying Tessaryn 1.1."), std::string::npos);
    EXPECT_NE(text.find("\r\nC:\\Program Files\\Tessaryn\r\n"), std::string::npos);
    EXPECT_NE(text.find("First run: prepared\r\n"), std::string::npos);
    EXPECT_EQ(text.find("more"), std::string::npos);

    EXPECT_EQ(productMessage("1.0", "C:\\T", "  \r\n").find("First run"), std::string::npos);
}

}  // namespace
}  // namespace tessaryn
