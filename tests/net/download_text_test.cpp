// The texts the download job shows.
#include <gtest/gtest.h>

#include "net/download_status.h"

namespace tessaryn {
namespace {

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
