// The compiled-in key is the one in the key file the build was configured with.
#include "package/public_key.h"

#include <gtest/gtest.h>

#include "system/ascii_text.h"
#include "tools/key_files.h"

namespace tessaryn {
namespace {

TEST(PublisherPublicKey, MatchesTheKeyFile) {
    const PublicKey& key = publisherPublicKey();
    EXPECT_EQ(lowerHex(key.data(), key.size()), TESSARYN_TEST_PUBLIC_KEY_HEX);
}

}  // namespace
}  // namespace tessaryn
