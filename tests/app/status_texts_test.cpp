// The download's and the update's status lines, causes and box in English (exactly the setup's
// words of old) and in languages that order, round and group the figures differently.
#include <gtest/gtest.h>

#include "app/status_texts.h"

namespace tessaryn {
namespace {

UiTexts language(const char* tag) {
    const std::optional<UiTexts> texts = languageTexts(tag);
    EXPECT_TRUE(texts) << tag;
    return texts.value_or(UiTexts());
}

TEST(StatusTexts, NumberedPlaceholdersTakeTheirValueWhereverTheyStand) {
    const struct {
        const char* text;
        std::vector<std::string> values;
        const char* filled;
    } rows[] = {
        {"{1} of {2}", {"3", "172"}, "3 of 172"},
        {"{2} fájlból {1}", {"3", "172"}, "172 fájlból 3"},
        {"{1}{1}{2}", {"a", "b"}, "aab"},
        {"{3} left as it is", {"a", "b"}, "{3} left as it is"},
        {"{} {0} {10} {1", {"a"}, "{} {0} {10} {1"},
        {"ends in {", {"a"}, "ends in {"},
        {"{9}", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, "9"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(fillNumbered(row.text, row.values), row.filled) << row.text;
}

TEST(StatusTexts, DownloadFiguresInEachLanguagesOrder) {
    const struct {
        const char* tag;
        const char* prefix;
        uint64_t bytes;
        uint64_t rate;
        int32_t percent;
        const char* line;
    } rows[] = {
        {"en", "Downloading setup files... ", 1000, 524288, 45,
         "Downloading setup files... 45% - 512 KB/s"},
        {"en", "Initializing setup... ", 5000, 1023, 0, "Initializing setup... 0% - 0 KB/s"},
        {"en", "Downloading setup files... ", 1536 * 1024 + 1023, 2047, -1,
         "Downloading setup files... 1536 KB - 1 KB/s"},
        {"en", "P ", 0, 0, -1, "P 0 KB - 0 KB/s"},
        {"en", "", 1ull << 40, 1ull << 40, 100, "100% - 1073741824 KB/s"},
        {"de", "D ", 1000, 524288, 45, "D 45 % - 512 KB/s"},
        {"de", "D ", 2048, 1024, -1, "D 2 KB - 1 KB/s"},
        {"tr", "", 1000, 524288, 45, "%45 - 512 KB/sn"},
        {"fr", "", 3072, 4096, -1, "3 Ko - 4 Ko/s"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(downloadStatusLine(language(row.tag), row.prefix, row.bytes, row.rate,
                                     row.percent),
                  row.line)
            << row.tag << " " << row.line;
}

// KB (rounded up) below a tenth of an MB, then MB of 2^20 bytes to the nearest tenth.
TEST(StatusTexts, UpdateLineRoundsTheSizeAtItsBoundaries) {
    const struct {
        const char* tag;
        size_t toFetch, files;
        uint64_t bytes;
        size_t kept;
        const char* line;
    } rows[] = {
        {"en", 3, 172, 1258291, 169, "Updating: 3 of 172 files to download (1.2 MB), 169 kept"},
        {"en", 1, 2, 52428, 1, "Updating: 1 of 2 files to download (52 KB), 1 kept"},
        {"en", 1, 2, 52429, 1, "Updating: 1 of 2 files to download (0.1 MB), 1 kept"},
        {"en", 0, 5, 0, 5, "Updating: 0 of 5 files to download (0 KB), 5 kept"},
        {"en", 1, 1, 1, 0, "Updating: 1 of 1 files to download (1 KB), 0 kept"},
        {"en", 1, 1, 1024, 0, "Updating: 1 of 1 files to download (1 KB), 0 kept"},
        {"en", 1, 1, 1025, 0, "Updating: 1 of 1 files to download (2 KB), 0 kept"},
        {"en", 1, 1, 1 << 20, 0, "Updating: 1 of 1 files to download (1.0 MB), 0 kept"},
        {"en", 1, 1, (10 << 20) - 1, 0, "Updating: 1 of 1 files to download (10.0 MB), 0 kept"},
        {"en", 1, 1, 996147, 0, "Updating: 1 of 1 files to download (0.9 MB), 0 kept"},
        {"en", 1, 1, 996148, 0, "Updating: 1 of 1 files to download (1.0 MB), 0 kept"},
        {"de", 3, 172, 1258291, 169,
         "Aktualisierung: 3 von 172 Dateien herunterzuladen (1,2 MB), 169 beibehalten"},
        {"de", 1, 2, 52428, 1,
         "Aktualisierung: 1 von 2 Dateien herunterzuladen (52 KB), 1 beibehalten"},
        {"de", 1, 2, 52429, 1,
         "Aktualisierung: 1 von 2 Dateien herunterzuladen (0,1 MB), 1 beibehalten"},
        {"de", 0, 5, 0, 5, "Aktualisierung: 0 von 5 Dateien herunterzuladen (0 KB), 5 beibehalten"},
        {"de", 1, 1, 1 << 20, 0,
         "Aktualisierung: 1 von 1 Dateien herunterzuladen (1,0 MB), 0 beibehalten"},
        {"hu", 3, 172, 1258291, 169, "Frissítés: 172 fájlból 3 letöltendő (1,2 MB), 169 megmarad"},
        {"ja", 3, 172, 1258291, 169,
         "更新中: 172 個中 3 個のファイルをダウンロード (1.2 MB)、169 個は保持"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(updateStatusLine(language(row.tag), row.toFetch, row.files, row.bytes, row.kept),
                  row.line)
            << row.tag << " " << row.bytes;
}

TEST(StatusTexts, EachRetryCauseHasItsOwnWords) {
    const struct {
        const char* tag;
        DownloadFailure cause;
        long status;
        uint32_t waitMs;
        int nextTry, tries;
        const char* line;
    } rows[] = {
        {"en", DownloadFailure::Cut, 0, 4000, 2, 5,
         "Connection lost. Retrying in 4 s (try 2 of 5)..."},
        {"en", DownloadFailure::HttpStatus, 503, 1500, 2, 5,
         "The server is busy (HTTP 503). Retrying in 2 s (try 2 of 5)..."},
        {"en", DownloadFailure::NoConnection, 0, 0, 2, 5,
         "No connection to the server. Retrying in 0 s (try 2 of 5)..."},
        {"en", DownloadFailure::NameNotFound, 0, 1, 2, 5,
         "The server name was not found. Retrying in 1 s (try 2 of 5)..."},
        {"en", DownloadFailure::Certificate, 0, 1001, 2, 5,
         "Connection lost. Retrying in 2 s (try 2 of 5)..."},
        {"en", DownloadFailure::Cut, 0, 1000, 5, 7,
         "Connection lost. Retrying in 1 s (try 5 of 7)..."},
        {"de", DownloadFailure::HttpStatus, 429, 999, 3, 5,
         "Der Server ist ausgelastet (HTTP 429). Neuer Versuch in 1 s (Versuch 3 von 5)..."},
        {"de", DownloadFailure::NameNotFound, 0, 60000, 4, 5,
         "Der Servername wurde nicht gefunden. Neuer Versuch in 60 s (Versuch 4 von 5)..."},
        {"tr", DownloadFailure::NoConnection, 0, 2000, 2, 5,
         "Sunucuyla bağlantı yok. 2 sn sonra yeniden denenecek (deneme 2/5)..."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(retryStatusLine(language(row.tag), row.cause, row.status, row.waitMs,
                                  row.nextTry, row.tries),
                  row.line)
            << row.tag << " " << row.line;
}

TEST(StatusTexts, EachFailureCauseNamesTheHost) {
    const struct {
        const char* tag;
        DownloadFailure cause;
        int tries;
        const char* message;
    } rows[] = {
        {"en", DownloadFailure::NoConnection, 5,
         "Could not connect to h.example. Please check your Internet connection."},
        {"en", DownloadFailure::NameNotFound, 5, "The server name h.example could not be found."},
        {"en", DownloadFailure::Certificate, 5,
         "The security certificate of h.example was refused."},
        {"en", DownloadFailure::HttpStatus, 1,
         "The server h.example answered with HTTP status 404."},
        {"en", DownloadFailure::ProxySignIn, 1, "The proxy server h.example requires a sign-in."},
        {"en", DownloadFailure::Cut, 1, "The connection to h.example was lost 1 time."},
        {"en", DownloadFailure::Cut, 2, "The connection to h.example was lost 2 times."},
        {"en", DownloadFailure::Disk, 5, "The download could not be written to the disk."},
        {"en", DownloadFailure::TimedOut, 5, "The download from h.example took too long."},
        {"en", DownloadFailure::Cancelled, 5, "The download was cancelled."},
        {"en", DownloadFailure::WrongFile, 5, "Download failed."},
        {"en", DownloadFailure::None, 5, "Download failed."},
        {"de", DownloadFailure::HttpStatus, 1,
         "Der Server h.example antwortete mit HTTP-Status 404."},
        {"es", DownloadFailure::Cut, 1, "La conexión con h.example se perdió 1 vez."},
        {"es", DownloadFailure::Cut, 3, "La conexión con h.example se perdió 3 veces."},
        {"de", DownloadFailure::WrongFile, 5, "Download fehlgeschlagen."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(
            downloadFailureMessage(language(row.tag), row.cause, 404, "h.example", row.tries),
            row.message)
            << row.tag << " " << row.message;
}

TEST(StatusTexts, FailureBoxNamesTheWebHostAndTheCauseOnItsOwnLine) {
    const struct {
        const char* tag;
        const char* cause;
        const char* text;
    } rows[] = {
        {"en", "",
         "Download failed!\nPlease try later, or visit downloads.example to contact support."},
        {"en", "The server d.example answered with HTTP status 4.",
         "Download failed!\nThe server d.example answered with HTTP status 4.\n"
         "Please try later, or visit downloads.example to contact support."},
        {"de", "Grund.",
         "Download fehlgeschlagen!\nGrund.\nBitte versuchen Sie es später erneut, oder wenden Sie "
         "sich über downloads.example an den Support."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(downloadFailureText(language(row.tag), "downloads.example", row.cause), row.text)
            << row.tag;
}

TEST(StatusTexts, FileCountsAreGroupedAsTheLanguageGroupsDigits) {
    const struct {
        const char* tag;
        size_t handed, listed;
        const char* text;
    } rows[] = {
        {"en", 1200, 3066, "1,200 of 3,066 files"},
        {"en", 0, 999, "0 of 999 files"},
        {"en", 1000, 0, "1,000 files"},
        {"en", 1001, 1000001, "1,001 of 1,000,001 files"},
        {"en", 999999, 1000000, "999,999 of 1,000,000 files"},
        {"de", 1200, 3066, "1.200 von 3.066 Dateien"},
        {"de", 5, 0, "5 Dateien"},
        {"fr", 1200, 3066, "1\u00a0200 fichiers sur 3\u00a0066"},
        {"hu", 1200, 3066, "1\u00a0200/3\u00a0066 fájl"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(fileCountText(language(row.tag), row.handed, row.listed), row.text)
            << row.tag << " " << row.handed;
    EXPECT_EQ(groupedNumber(UiTexts(), 18446744073709551615ull), "18,446,744,073,709,551,615");
}

}  // namespace
}  // namespace tessaryn
