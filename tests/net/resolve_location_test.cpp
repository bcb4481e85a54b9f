// Redirect resolution and URL splitting. Runs natively (portable splitter) and under Wine
// (InternetCrackUrlA), so both splitters answer the same table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/url.h"

namespace tessaryn {
namespace {

struct LocationCase {
    const char* requested;
    const char* location;
    const char* expected;
};

TEST(ResolveLocation, FollowsTheRedirectRules) {
    const LocationCase cases[] = {
        // Absolute locations are taken as they are, whatever the requested URL.
        {"https://a.example/x/y", "http://b.example/z", "http://b.example/z"},
        {"http://a.example/x", "https://b.example:8443/q?x=1", "https://b.example:8443/q?x=1"},
        // Rooted: same scheme, host and non-default port; the query stays as it came.
        {"https://host.example:8443/a/b/c", "/new/place?id=7&x=y",
         "https://host.example:8443/new/place?id=7&x=y"},
        {"https://host.example/a/b", "/c", "https://host.example/c"},
        {"http://host.example:80/a/b", "/c", "http://host.example/c"},
        {"http://host.example:8080/a", "/c", "http://host.example:8080/c"},
        {"https://host.example:80/a", "/c", "https://host.example:80/c"},
        // Two leading slashes are still a path on the same host.
        {"https://host.example/a/b", "//other.example/c", "https://host.example//other.example/c"},
        // Relative: "..", "." and plain names against the requested folder.
        {"https://host.example/one/two/three", "../name", "https://host.example/one/name"},
        {"https://host.example/one/two/three", "./name", "https://host.example/one/two/name"},
        {"https://host.example/one/two/three", "name", "https://host.example/one/two/name"},
        {"https://host.example/one/two/", "name", "https://host.example/one/two/name"},
        {"https://host.example/one/two/three", "sub/dir/", "https://host.example/one/two/sub/dir"},
        {"https://host.example/one/two/three", "../../../../../x", "https://host.example/x"},
        {"https://host.example/one/two/three", "..", "https://host.example/one"},
        {"https://host.example/one", "..", "https://host.example/"},
        {"https://host.example/a/b", "", "https://host.example/a"},
        {"http://host.example:8080/a/b", "c/./../d//e", "http://host.example:8080/a/d/e"},
        {"https://host.example", "name", "https://host.example/name"},
        // Scheme names are compared exactly: anything else is relative.
        {"https://host.example/a/b", "HTTP://other/x", "https://host.example/a/HTTP:/other/x"},
    };
    for (const LocationCase& c : cases) {
        EXPECT_EQ(resolveLocation(c.requested, c.location), c.expected)
            << c.requested << " + " << c.location;
    }
}

TEST(ResolveLocation, RelativeWalkNeverLeavesDotPiecesOrTheRoot) {
    // Every combination of up to four pieces drawn from a small alphabet.
    const char* pieces[] = {"..", ".", "", "a", "b"};
    const std::string origin = "https://h.example:8443";
    int combinations = 0;
    for (int length = 1; length <= 4; ++length) {
        int total = 1;
        for (int i = 0; i < length; ++i) total *= 5;
        for (int n = 0; n < total; ++n) {
            std::string location;
            for (int i = 0, k = n; i < length; ++i, k /= 5) {
                location += (i ? "/" : "") + std::string(pieces[k % 5]);
            }
            if (location[0] == '/') continue;  // rooted, not walked
            const std::string url = resolveLocation(origin + "/x/y/z", location);
            ASSERT_EQ(url.rfind(origin + "/", 0), 0u) << location;
            const std::string path = url.substr(origin.size());
            EXPECT_EQ(path.find("/./"), std::string::npos) << location;
            EXPECT_EQ(path.find("/../"), std::string::npos) << location;
            EXPECT_EQ(path.find("//"), std::string::npos) << location;
            EXPECT_TRUE(path == "/" || path.back() != '/') << location;
            EXPECT_FALSE(path.ends_with("/.") || path.ends_with("/..")) << location;
            ++combinations;
        }
    }
    EXPECT_GT(combinations, 500);
}

TEST(SplitUrl, GivesHostPathPortAndScheme) {
    std::string host, path;
    uint16_t port = 0;
    bool secure = false;

    ASSERT_TRUE(
        splitUrl("https://Downloads.example:8443/installers/x.pak", host, path, port, secure));
    EXPECT_EQ(host, "Downloads.example");
    EXPECT_EQ(path, "/installers/x.pak");
    EXPECT_EQ(port, 8443);
    EXPECT_TRUE(secure);

    ASSERT_TRUE(splitUrl("http://127.0.0.1/a?b=c", host, path, port, secure));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(path, "/a?b=c");
    EXPECT_EQ(port, 80);
    EXPECT_FALSE(secure);

    ASSERT_TRUE(splitUrl("https://host.example", host, path, port, secure));
    EXPECT_EQ(port, 443);
    EXPECT_EQ(path, "");
}

TEST(SplitUrl, LeavesOutputsAloneWhenItFails) {
    std::string host = "keep", path = "keep";
    uint16_t port = 7;
    bool secure = true;
    std::vector<std::string> bads = {"", "not a url", "/just/a/path", "http//missing.colon/x"};
#ifndef _WIN32
    // The stand-in's own limits: a port in range and of digits only, a host, and the sizes of
    // the platform splitter's buffers.
    for (const char* more : {"http://host:65536/", "http://host:8a/", "http://host:-1/",
                             "http://:80/", "https:///x"})
        bads.emplace_back(more);
    bads.push_back("http://" + std::string(256, 'h') + "/");
    bads.push_back("http://h/" + std::string(2047, 'p'));
    ASSERT_TRUE(splitUrl("http://" + std::string(255, 'h') + "/" + std::string(2046, 'p'), host,
                         path, port, secure));
    ASSERT_TRUE(splitUrl("http://h.example:65535#top", host, path, port, secure));
    EXPECT_EQ(host, "h.example");
    EXPECT_EQ(port, 65535);
    EXPECT_EQ(path, "#top");
    host = path = "keep";
    port = 7;
    secure = true;
#endif
    for (const std::string& bad : bads) {
        EXPECT_FALSE(splitUrl(bad, host, path, port, secure)) << bad;
        EXPECT_EQ(host, "keep");
        EXPECT_EQ(path, "keep");
        EXPECT_EQ(port, 7);
        EXPECT_TRUE(secure);
    }
}

}  // namespace
}  // namespace tessaryn
