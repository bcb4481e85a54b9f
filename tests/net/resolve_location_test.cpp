// Redirect resolution and URL splitting. Runs natively (portable splitter) and under Wine
// (InternetCrackUrlA), so both splitters answer the same table.
#include <gtest/gtest.h>

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
    for (const char* bad : {"", "not a url", "/just/a/path", "http//missing.colon/x"}) {
        EXPECT_FALSE(splitUrl(bad, host, path, port, secure)) << bad;
        EXPECT_EQ(host, "keep");
        EXPECT_EQ(path, "keep");
        EXPECT_EQ(port, 7);
        EXPECT_TRUE(secure);
    }
}

}  // namespace
}  // namespace tessaryn
