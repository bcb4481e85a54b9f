// Download addresses and the texts the download job shows.
#include <gtest/gtest.h>

#include "package/download_status.h"
#include "package/download_url.h"

namespace tessaryn {
namespace {

TEST(DownloadUrl, PutsTheInstallersFolderUnderTheOrigin) {
    EXPECT_EQ(buildDownloadUrl("https://downloads.example", "Tessaryn", ".dat"),
              "https://downloads.example/installers/tessaryn.dat");
    EXPECT_EQ(buildDownloadUrl("http://127.0.0.1:8080", "Tessaryn", ".pak"),
              "http://127.0.0.1:8080/installers/tessaryn.pak");
    // An origin written with a closing slash gives no "//installers".
    EXPECT_EQ(buildDownloadUrl("https://mirror.example:8443//", "Tessaryn", ".pak"),
              "https://mirror.example:8443/installers/tessaryn.pak");
    EXPECT_EQ(buildDownloadUrl("https://m.example", "metrics", ""),
              "https://m.example/installers/metrics");
}

TEST(DownloadUrl, LowerCasesOnlyAsciiLettersOfTheName) {
    // "ÄÖ" in UTF-8 keeps its bytes; digits, dashes and dots stay.
    EXPECT_EQ(buildDownloadUrl("https://d.example", "\xC3\x84\xC3\x96-Suite 2.X_Pro", ".pak"),
              "https://d.example/installers/\xC3\x84\xC3\x96-suite 2.x_pro.pak");
    EXPECT_EQ(buildDownloadUrl("https://d.example", "", ".dat"),
              "https://d.example/installers/.dat");
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
    EXPECT_EQ(downloadFailureText("downloads.example"),
              "Download failed!\nPlease try later, or visit downloads.example to contact support.");
}

}  // namespace
}  // namespace tessaryn
