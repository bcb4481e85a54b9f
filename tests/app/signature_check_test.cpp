// The setup's check of a fetched file: strip, then verify, never throwing.
#include <gtest/gtest.h>

#include "app/signature_check.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using test::makeKeyPair;
using test::readBytes;
using test::ScratchFolder;
using test::signedBytes;
using test::writeBytes;

class SignatureCheck : public ::testing::Test {
  protected:
    void SetUp() override { initSignatures(); }
    ScratchFolder scratch;
    test::KeyPair keys = makeKeyPair();
    std::vector<uint8_t> payload{'{', '"', 'p', 'r', 'o', 'd', '"', ':', '1', '}'};
};

TEST_F(SignatureCheck, ValidFileKeepsItsPayloadAndHandsOutTheSignature) {
    const auto path = scratch.path() / "setup.dat";
    const auto whole = signedBytes(payload, "SETUP100", keys.secret);
    writeBytes(path, whole);
    Signature signature{};
    EXPECT_TRUE(takeAndVerifySignature(path, "SETUP100", keys.publicKey, signature));
    EXPECT_EQ(readBytes(path), payload);
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), whole.end() - 64));
}

TEST_F(SignatureCheck, WrongContextOrKeyOrShortFileIsInvalid) {
    const auto path = scratch.path() / "setup.pak";
    Signature signature{};
    writeBytes(path, signedBytes(payload, "SETUP100", keys.secret));
    EXPECT_FALSE(takeAndVerifySignature(path, "SETUPPAK", keys.publicKey, signature));
    writeBytes(path, signedBytes(payload, "SETUP100", keys.secret));
    EXPECT_FALSE(takeAndVerifySignature(path, "SETUP100", makeKeyPair().publicKey, signature));
    writeBytes(path, std::vector<uint8_t>(63, 'x'));
    EXPECT_FALSE(takeAndVerifySignature(path, "SETUP100", keys.publicKey, signature));
    EXPECT_EQ(readBytes(path).size(), 63u);
}

// A file that is gone (or locked) by the time it is checked makes the library throw; the setup
// must treat that like any invalid file instead of ending without a word.
TEST_F(SignatureCheck, VanishedFileOrBadContextCountsAsInvalidNotAsAnError) {
    Signature signature{};
    const auto missing = scratch.path() / "gone.dat";
    EXPECT_THROW((void)verifySignedFile(signature, missing, "SETUP100", keys.publicKey),
                 HydrogenError);
    EXPECT_FALSE(verifyStrippedFile(signature, missing, "SETUP100", keys.publicKey));
    const auto path = scratch.path() / "setup.dat";
    writeBytes(path, payload);
    EXPECT_FALSE(verifyStrippedFile(signature, path, "SETUP", keys.publicKey));
    EXPECT_FALSE(takeAndVerifySignature(missing, "SETUP100", keys.publicKey, signature));
}

}  // namespace
}  // namespace tessaryn
