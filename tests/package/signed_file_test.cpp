// Taking signatures off files and checking them: boundaries, tampering, contexts and keys.
#include "package/signed_file.h"

#include <gtest/gtest.h>

#include "package/path_text.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using namespace test;

class SignedFileTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initSignatures(); }

    // Strips and checks the file as the setup does.
    bool takeAndVerify(const fs::path& path, const char* context, const PublicKey& key) {
        const std::vector<uint8_t> taken = takeTrailingSignature(path);
        if (taken.size() != kSignatureBytes) return false;
        Signature signature{};
        std::copy(taken.begin(), taken.end(), signature.begin());
        return verifySignedFile(signature, path, context, key);
    }

    ScratchFolder scratch;
    KeyPair keys = makeKeyPair();
};

TEST_F(SignedFileTest, ValidFileIsStrippedToItsPayloadAndAccepted) {
    const auto payload = patternBytes(1000, 1);
    const fs::path path = scratch.path() / "setup.dat";
    writeBytes(path, signedBytes(payload, kSettingsContext, keys.secret));
    EXPECT_TRUE(takeAndVerify(path, kSettingsContext, keys.publicKey));
    EXPECT_EQ(readBytes(path), payload);
    // Stripping again eats payload bytes, and the check then fails.
    EXPECT_FALSE(takeAndVerify(path, kSettingsContext, keys.publicKey));
}

TEST_F(SignedFileTest, PayloadsOfWholeReadBuffersVerify) {
    for (size_t size : {size_t{0}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{3 * 8192}}) {
        SCOPED_TRACE(size);
        const fs::path path = scratch.path() / ("p" + std::to_string(size));
        const auto payload = patternBytes(size, static_cast<uint32_t>(size));
        writeBytes(path, signedBytes(payload, kPackageContext, keys.secret));
        EXPECT_TRUE(takeAndVerify(path, kPackageContext, keys.publicKey));
        EXPECT_EQ(readBytes(path).size(), size);
    }
}

TEST_F(SignedFileTest, ShortAndMissingFilesYieldNoSignatureAndStayUntouched) {
    const fs::path path = scratch.path() / "short.dat";
    const auto bytes = patternBytes(63, 7);
    writeBytes(path, bytes);
    EXPECT_TRUE(takeTrailingSignature(path).empty());
    EXPECT_EQ(readBytes(path), bytes);
    EXPECT_TRUE(takeTrailingSignature(scratch.path() / "absent.dat").empty());
    EXPECT_TRUE(takeTrailingSignature(scratch.path()).empty());  // a folder
    EXPECT_TRUE(fs::is_directory(scratch.path()));
}

TEST_F(SignedFileTest, SixtyFourByteFileIsAnEmptyPayload) {
    const fs::path path = scratch.path() / "empty.pak";
    writeBytes(path, signedBytes({}, kPackageContext, keys.secret));
    ASSERT_EQ(fs::file_size(path), 64u);
    EXPECT_TRUE(takeAndVerify(path, kPackageContext, keys.publicKey));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(SignedFileTest, EveryFlippedBitOfPayloadOrSignatureIsRejected) {
    const auto payload = patternBytes(100, 3);
    for (const char* context : {kSettingsContext, kPackageContext}) {
        const auto good = signedBytes(payload, context, keys.secret);
        for (size_t byte = 0; byte < good.size(); ++byte) {
            // Each byte once, with the flipped bit moving through all eight positions.
            auto bad = good;
            bad[byte] ^= static_cast<uint8_t>(1u << (byte % 8));
            const fs::path path = scratch.path() / "flipped";
            writeBytes(path, bad);
            ASSERT_FALSE(takeAndVerify(path, context, keys.publicKey))
                << context << " byte " << byte;
        }
    }
}

TEST_F(SignedFileTest, SwappedContextOrOtherKeyIsRejected) {
    const auto payload = patternBytes(500, 4);
    const fs::path path = scratch.path() / "f";
    writeBytes(path, signedBytes(payload, kPackageContext, keys.secret));
    EXPECT_FALSE(takeAndVerify(path, kSettingsContext, keys.publicKey));
    writeBytes(path, signedBytes(payload, kSettingsContext, keys.secret));
    EXPECT_FALSE(takeAndVerify(path, kPackageContext, keys.publicKey));
    writeBytes(path, signedBytes(payload, kSettingsContext, keys.secret));
    EXPECT_FALSE(takeAndVerify(path, kSettingsContext, makeKeyPair().publicKey));
}

TEST_F(SignedFileTest, BadContextAndUnopenableFileThrowHydrogenErrors) {
    const fs::path path = scratch.path() / "x";
    writeBytes(path, {1, 2, 3});
    Signature signature{};
    try {
        (void)verifySignedFile(signature, path, "SETUP10", keys.publicKey);
        FAIL() << "no exception";
    } catch (const HydrogenError& error) {
        EXPECT_STREQ(error.what(), "Hydrogen error: Context must be exactly 8 bytes");
    }
    const fs::path missing = scratch.path() / "gone ü.dat";
    try {
        (void)verifySignedFile(signature, missing, kSettingsContext, keys.publicKey);
        FAIL() << "no exception";
    } catch (const HydrogenError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Hydrogen error: Failed to open file: " + pathText(missing));
    }
}

// The SSSE3 build and the portable one accept and refuse the same bytes, checked where they lie
// or as they arrive in parts of any size (the last 64 bytes split across parts too).
TEST_F(SignedFileTest, EveryHashBuildAndArrivalGiveTheSameResults) {
    std::vector<HashCode> codes{HashCode::Portable};
    if (hashCodeAvailable(HashCode::Ssse3)) codes.push_back(HashCode::Ssse3);
    const auto arriving = [](const std::vector<uint8_t>& bytes, const char* context,
                             const PublicKey& key, HashCode code) {
        ArrivingSignature check(context, code);
        const size_t parts[] = {1, 63, 64, 65, 4096, 7};
        for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
            const size_t part = std::min(parts[i % 6], bytes.size() - at);
            check.add(bytes.data() + at, part);
            at += part;
        }
        EXPECT_EQ(check.size(), bytes.size());
        return check.valid(key);
    };
    for (size_t size : {size_t{0}, size_t{15}, size_t{16}, size_t{8193}, size_t{1024 * 1024 + 7}}) {
        SCOPED_TRACE(size);
        auto bytes = signedBytes(patternBytes(size, 21), kPackageContext, keys.secret);
        for (size_t flip : {size_t{0}, size / 2, bytes.size() - 1}) {
            for (bool flipped : {false, true}) {
                auto checked = bytes;
                if (flipped) checked[flip] ^= 0x10;
                for (HashCode code : codes) {
                    EXPECT_EQ(verifySignedBytes(checked.data(), checked.size(), kPackageContext,
                                                keys.publicKey, code),
                              !flipped);
                    EXPECT_EQ(arriving(checked, kPackageContext, keys.publicKey, code), !flipped);
                }
            }
        }
        for (HashCode code : codes) {
            EXPECT_FALSE(verifySignedBytes(bytes.data(), bytes.size(), kSettingsContext,
                                           keys.publicKey, code));
            EXPECT_FALSE(arriving(bytes, kSettingsContext, keys.publicKey, code));
            // Fewer bytes than a signature, or a context of another length, are never valid.
            EXPECT_FALSE(arriving({bytes.begin(), bytes.begin() + 63}, kPackageContext,
                                  keys.publicKey, code));
            EXPECT_FALSE(arriving(bytes, "SETUP", keys.publicKey, code));
        }
    }
}

TEST_F(SignedFileTest, StreamCheckStopsAtTheStatedPayloadLength) {
    const auto payload = patternBytes(20000, 5);
    const auto bytes = signedBytes(payload, kPackageContext, keys.secret);
    Signature signature{};
    std::copy(bytes.end() - 64, bytes.end(), signature.begin());
    std::string text(bytes.begin(), bytes.end());
    std::istringstream whole(text);
    EXPECT_TRUE(
        verifySignedStream(signature, whole, payload.size(), kPackageContext, keys.publicKey));
    std::istringstream cut(text.substr(0, 1000));
    EXPECT_FALSE(
        verifySignedStream(signature, cut, payload.size(), kPackageContext, keys.publicKey));
}

}  // namespace
}  // namespace tessaryn
