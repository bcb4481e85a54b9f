// The check of signed bytes, as they arrive or where they lie: tampering, contexts, keys, lengths
// and both hash builds.
#include "package/signature_check.h"

#include <gtest/gtest.h>

#include "package/locked_file.h"
#include "package/path_text.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using namespace test;

class SignatureCheckTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initSignatures(); }

    ScratchFolder scratch;
    KeyPair keys = makeKeyPair();
};

TEST_F(SignatureCheckTest, EveryFlippedBitOfPayloadOrSignatureIsRejected) {
    const auto payload = patternBytes(100, 3);
    for (const char* context : {kSettingsContext, kPackageContext}) {
        const auto good = signedBytes(payload, context, keys.secret);
        ASSERT_TRUE(verifySignedBytes(good.data(), good.size(), context, keys.publicKey));
        for (size_t byte = 0; byte < good.size(); ++byte) {
            // Each byte once, with the flipped bit moving through all eight positions.
            auto bad = good;
            bad[byte] ^= static_cast<uint8_t>(1u << (byte % 8));
            ASSERT_FALSE(verifySignedBytes(bad.data(), bad.size(), context, keys.publicKey))
                << context << " byte " << byte;
        }
    }
}

// The file is checked through its locked view, which is left whole; a file that is gone (or a
// folder) has no view, which the setup counts as invalid.
TEST_F(SignatureCheckTest, FileIsCheckedThroughItsLockedView) {
    const fs::path path = scratch.path() / "setup.dat";
    const auto whole = signedBytes(patternBytes(1000, 1), kSettingsContext, keys.secret);
    writeBytes(path, whole);
    {
        const auto view = LockedFile::open(pathText(path));
        ASSERT_TRUE(view);
        EXPECT_TRUE(verifySignedBytes(view->data(), view->size(), kSettingsContext, keys.publicKey));
        EXPECT_EQ(std::vector<uint8_t>(view->data(), view->data() + view->size()), whole);
    }
    int code = 0;
    EXPECT_FALSE(LockedFile::open(pathText(scratch.path() / "gone.dat"), &code));
    EXPECT_NE(code, 0);
    EXPECT_FALSE(LockedFile::open(pathText(scratch.path())));
}

// 63 bytes are never a signed file, even when they are a signature of the empty payload that
// lacks only a last byte of zero.
TEST_F(SignatureCheckTest, FewerBytesThanASignatureAreNeverValid) {
    std::vector<uint8_t> bytes;
    KeyPair signer;
    do {
        signer = makeKeyPair();
        bytes = signedBytes({}, kPackageContext, signer.secret);
    } while (bytes.back() != 0);
    ASSERT_TRUE(verifySignedBytes(bytes.data(), bytes.size(), kPackageContext, signer.publicKey));
    bytes.pop_back();
    EXPECT_FALSE(verifySignedBytes(bytes.data(), bytes.size(), kPackageContext, signer.publicKey));
}

// The SSSE3 build and the portable one accept and refuse the same bytes, checked where they lie
// or as they arrive in parts of any size (the last 64 bytes split across parts too).
TEST_F(SignatureCheckTest, EveryHashBuildAndArrivalGiveTheSameResults) {
    std::vector<HashBuild> builds{HashBuild::Portable};
    if (hashBuildAvailable(HashBuild::Ssse3)) builds.push_back(HashBuild::Ssse3);
    const auto arriving = [](const std::vector<uint8_t>& bytes, const std::string& context,
                             const PublicKey& key, HashBuild build) {
        ArrivingSignature check(context, build);
        const size_t parts[] = {1, 63, 64, 65, 4096, 7};
        for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
            const size_t part = std::min(parts[i % 6], bytes.size() - at);
            check.add(bytes.data() + at, part);
            at += part;
        }
        EXPECT_EQ(check.size(), bytes.size());
        return check.valid(key);
    };
    const PublicKey otherKey = makeKeyPair().publicKey;
    for (size_t size : {size_t{0}, size_t{15}, size_t{16}, size_t{8193}, size_t{1024 * 1024 + 7}}) {
        SCOPED_TRACE(size);
        auto bytes = signedBytes(patternBytes(size, 21), kPackageContext, keys.secret);
        for (size_t flip : {size_t{0}, size / 2, bytes.size() - 1}) {
            for (bool flipped : {false, true}) {
                auto checked = bytes;
                if (flipped) checked[flip] ^= 0x10;
                for (HashBuild build : builds) {
                    EXPECT_EQ(verifySignedBytes(checked.data(), checked.size(), kPackageContext,
                                                keys.publicKey, build),
                              !flipped);
                    EXPECT_EQ(arriving(checked, kPackageContext, keys.publicKey, build), !flipped);
                }
            }
        }
        // The other file's context, another key, fewer bytes than a signature, or a context of
        // another length (even one that starts with the right eight bytes) are never valid.
        struct Refused {
            std::vector<uint8_t> bytes;
            std::string context;
            const PublicKey* key;
        };
        const std::vector<Refused> refused = {
            {bytes, kSettingsContext, &keys.publicKey},
            {bytes, kPackageContext, &otherKey},
            {{bytes.begin(), bytes.begin() + 63}, kPackageContext, &keys.publicKey},
            {bytes, "SETUP", &keys.publicKey},
            {bytes, std::string(kPackageContext) + "X", &keys.publicKey}};
        for (HashBuild build : builds) {
            for (const Refused& row : refused) {
                SCOPED_TRACE(row.context);
                EXPECT_FALSE(verifySignedBytes(row.bytes.data(), row.bytes.size(), row.context,
                                               *row.key, build));
                EXPECT_FALSE(arriving(row.bytes, row.context, *row.key, build));
            }
        }
    }
}

}  // namespace
}  // namespace tessaryn
