// Download addresses and the texts the download job shows.
#include <gtest/gtest.h>

#include "app/setup_state.h"
#include "package/download_status.h"
#include "package/download_url.h"

namespace tessaryn {
namespace {

class DownloadUrl : public ::testing::Test {
  protected:
    void TearDown() override { serverOverride().clear(); }
};

TEST_F(DownloadUrl, UsesTheWebHostOrTheOverride) {
    EXPECT_EQ(buildDownloadUrl("Tessaryn", ".dat"),
              "https://" + webHostName() + "/installers/tessaryn.dat");

    serverOverride() = "http://127.0.0.1:8080";
    EXPECT_EQ(buildDownloadUrl("Tessaryn", ".pak"),
              "http://127.0.0.1:8080/installers/tessaryn.pak");
    serverOverride() = "https://mirror.example:8443/";
    EXPECT_EQ(buildDownloadUrl("Tessaryn", ".pak"),
              "https://mirror.example:8443/installers/tessaryn.pak");
    serverOverride() = "mirror.example";
    EXPECT_EQ(buildDownloadUrl("Tessaryn", ".dat"),
              "https://mirror.example/installers/tessaryn.dat");
    // Scheme names are matched exactly: anything else is a bare host.
    serverOverride() = "HTTP://mirror.example";
    EXPECT_EQ(buildDownloadUrl("X", ".dat"), "https://HTTP://mirror.example/installers/x.dat");
}

TEST_F(DownloadUrl, LowerCasesOnlyAsciiLetters) {
    // "ÄÖ" in UTF-8 keeps its bytes; digits, dashes and dots stay.
    EXPECT_EQ(buildDownloadUrl("\xC3\x84\xC3\x96-Suite 2.X_Pro", ".pak"),
              "https://" + webHostName() + "/installers/\xC3\x84\xC3\x96-suite 2.x_pro.pak");
    EXPECT_EQ(buildDownloadUrl("", ".dat"), "https://" + webHostName() + "/installers/.dat");
}

TEST(DownloadStatusLine, ShowsPercentOrKilobytesWithTheRate) {
    EXPECT_EQ(downloadStatusLine("Downloading setup files... ", 1000, 524288, 45),
              "Downloading setup files... 45% - 512 KB/s");
    EXPECT_EQ(downloadStatusLine("Initializing setup... ", 5000, 1023, 0),
              "Initializing setup... 0% - 0 KB/s");
    EXPECT_EQ(downloadStatusLine("Downloading setup files... ", 1536 * 1024 + 1023, 2047, -1),
              "Downloading setup files... 1536 KB - 1 KB/s");
    EXPECT_EQ(downloadStatusLine("P ", 0, 0, -1), "P 0 KB - 0 KB/s");
    EXPECT_EQ(downloadStatusLine("", 1ull << 40, 1ull << 40, 100), "100% - 1073741824 KB/s");
}

TEST(DownloadFailureText, NamesTheWebHost) {
    EXPECT_EQ(downloadFailureText(), "Download failed!\nPlease try later, or visit " +
                                         webHostName() + " to contact support.");
}

}  // namespace
}  // namespace tessaryn
