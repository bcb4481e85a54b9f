// The setup's check of a fetched file: over the bytes that will be used, never throwing.
#include <gtest/gtest.h>

#include "package/locked_file.h"
#include "package/path_text.h"
#include "package/signed_file.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using test::makeKeyPair;
using test::ScratchFolder;
using test::signedBytes;
using test::writeBytes;

class SignatureCheck : public ::testing::Test {
  protected:
    void SetUp() override { initSignatures(); }
    bool check(const std::vector<uint8_t>& bytes, const char* context, const PublicKey& key) {
        return verifySignedBytes(bytes.data(), bytes.size(), context, key);
    }
    ScratchFolder scratch;
    test::KeyPair keys = makeKeyPair();
    std::vector<uint8_t> payload{'{', '"', 'p', 'r', 'o', 'd', '"', ':', '1', '}'};
};

TEST_F(SignatureCheck, ValidFileIsCheckedThroughItsLockedViewAndLeftWhole) {
    const auto path = scratch.path() / "setup.dat";
    const auto whole = signedBytes(payload, "SETUP100", keys.secret);
    writeBytes(path, whole);
    const auto view = LockedFile::open(pathText(path));
    ASSERT_TRUE(view);
    EXPECT_TRUE(verifySignedBytes(view->data(), view->size(), "SETUP100", keys.publicKey));
    EXPECT_EQ(std::vector<uint8_t>(view->data(), view->data() + view->size()), whole);
}

TEST_F(SignatureCheck, WrongContextOrKeyOrShortFileIsInvalid) {
    EXPECT_FALSE(check(signedBytes(payload, "SETUP100", keys.secret), "SETUPPAK", keys.publicKey));
    EXPECT_FALSE(
        check(signedBytes(payload, "SETUP100", keys.secret), "SETUP100", makeKeyPair().publicKey));
    EXPECT_FALSE(check(std::vector<uint8_t>(63, 'x'), "SETUP100", keys.publicKey));
    EXPECT_FALSE(check({}, "SETUP100", keys.publicKey));
}

// A file that is gone (or locked) by the time it is checked, or a bad context, must count as
// invalid instead of ending the setup without a word.
TEST_F(SignatureCheck, VanishedFileOrBadContextCountsAsInvalidNotAsAnError) {
    int code = 0;
    EXPECT_FALSE(LockedFile::open(pathText(scratch.path() / "gone.dat"), &code));
    EXPECT_NE(code, 0);
    EXPECT_FALSE(LockedFile::open(pathText(scratch.path())));  // a folder
    EXPECT_FALSE(check(signedBytes(payload, "SETUP100", keys.secret), "SETUP", keys.publicKey));
}

}  // namespace
}  // namespace tessaryn
