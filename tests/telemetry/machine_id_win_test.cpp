// CryptoAPI's MD5 against reference digests, and the machine identifier built from the disk.
#include <gtest/gtest.h>

#include <string>

#include "telemetry/machine_id.h"
#include "telemetry/machine_id_win.h"

namespace tessaryn {
namespace {

TEST(Md5Hex, MatchesTheReferenceTestSuite) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [input, digest] : vectors) EXPECT_EQ(md5Hex(input), digest) << input;
}

TEST(Md5Hex, MatchesDigestsOfIdentifierInputs) {
    // Computed with Python's hashlib.md5(...).hexdigest().upper().
    EXPECT_EQ(md5Hex("Corvalis-PC:"), "AE62FB1C3A4FA692196AAE9FBB84C3AC");
    EXPECT_EQ(md5Hex("Corvalis-PC:WD-WCC4N7KX2Z19"), "940FEAE83FC93BCAFC249F3178B28BAA");
    // Blanks around a serial are hashed as they are.
    EXPECT_EQ(md5Hex("Corvalis-PC:  WD-WCC4N7KX2Z19  "), "BE58852CFD9800D5EDA33ECA5421131C");
    std::string allBytes;
    for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
    EXPECT_EQ(md5Hex(allBytes), "E2C865DB4162BED963BFAA9EF6AC18F0") << "NUL and high bytes count";
}

TEST(MachineId, IsAnonPlusTheDigestOfPrefixAndSerial) {
    std::string id = makeMachineId();
    ASSERT_EQ(id.size(), 37u) << id;
    EXPECT_EQ(id.substr(0, 5), "anon-");
    for (char c : id.substr(5)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << id;
    EXPECT_EQ(id, "anon-" + md5Hex(std::string(kMachineIdPrefix) + getDiskSerial()));
    EXPECT_EQ(makeMachineId(), id) << "the same on every call";
}

}  // namespace
}  // namespace tessaryn
