// The rules that make a release one whole: version order, expiry times, the package binding,
// and the check that finds a package other than the one the settings name.
#include <gtest/gtest.h>

#include <functional>

#include "package/bound_check.h"
#include "package/release_rules.h"
#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using test::makeKeyPair;
using test::patternBytes;
using test::signedBytes;

TEST(VersionOrder, Table) {
    struct Row {
        const char* a;
        const char* b;
        int order;
    };
    const Row rows[] = {
        {"1.0", "1.0", 0},       {"2", "2.0.0", 0},        {"1.0", "2.0", -1},
        {"1.10", "1.9", 1},      {"1.01", "1.1", 0},       {"10.0", "9.9.9", 1},
        {"2.0.1", "2.0", 1},     {"2.0-beta", "2.0", -1},  {"2.0rc1", "2.0rc2", -1},
        {"2.0RC1", "2.0rc1", 0}, {"2.0a", "2.0.1", -1},    {"", "0", 0},
        {"beta", "0", -1},       {"1.x", "1.0", -1},       {"1.x", "1.1", -1},
        {"99999999999999999999.1", "99999999999999999999.0", 1},
        {"100000000000000000000", "99999999999999999999", 1},
        {"1..2", "1.0.2", 0},    {"3.0", "10.0", -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(compareVersions(row.a, row.b), row.order) << row.a << " vs " << row.b;
        EXPECT_EQ(compareVersions(row.b, row.a), -row.order) << row.b << " vs " << row.a;
    }
}

// Files beside the setup against the web host's current release, and the floor for the times
// the host names none: a release beside is used only when the host names that very one, is
// older, or gave no settings, and then never below the floor.
TEST(ReleaseChoiceBesideTheSetup, Table) {
    const PackageBinding one{100, {1}};
    const PackageBinding sameSizeOtherHash{100, {2}};
    const PackageBinding otherSize{101, {1}};
    using C = ReleaseChoice;
    struct Row {
        const char* beside;
        std::optional<PackageBinding> besidePackage;
        bool hostAnswers;
        const char* host;
        std::optional<PackageBinding> hostPackage;
        const char* floor;
        ReleaseChoice choice;
    };
    const Row rows[] = {
        {"2.0", one, true, "2.0", one, "", C::Beside},
        {"2.0", one, true, "2.0.0", one, "3.0", C::Beside},  // named by the host: no floor
        {"2.0", one, true, "2.0", sameSizeOtherHash, "", C::Host},
        {"2.0", one, true, "2.0", otherSize, "", C::Host},
        {"2.0", std::nullopt, true, "2.0", std::nullopt, "", C::Host},  // nothing to compare
        {"2.0", one, true, "2.0", std::nullopt, "", C::Host},
        {"1.0", one, true, "2.0", otherSize, "", C::Host},
        {"2.0-beta", one, true, "2.0", one, "", C::Host},
        {"2.1", one, true, "2.0", one, "", C::BesideNewer},
        {"2.1", one, true, "2.0", otherSize, "2.1", C::BesideNewer},
        {"2.1", one, true, "2.0", otherSize, "2.2", C::BelowFloor},
        {"1.0", one, false, "", std::nullopt, "", C::BesideAlone},
        {"2.0", one, false, "", std::nullopt, "2.0", C::BesideAlone},  // the floor itself
        {"2.0.1", one, false, "", std::nullopt, "2.0", C::BesideAlone},
        {"1.9.9", one, false, "", std::nullopt, "2.0", C::BelowFloor},
        {"2.0-rc1", one, false, "", std::nullopt, "2.0", C::BelowFloor},
    };
    for (const Row& row : rows) {
        const ReleaseMark beside{row.beside, row.besidePackage};
        const ReleaseMark host{row.host, row.hostPackage};
        EXPECT_EQ(chooseRelease(beside, row.hostAnswers ? &host : nullptr, row.floor), row.choice)
            << row.beside << " beside, host " << (row.hostAnswers ? row.host : "(none)")
            << ", floor " << row.floor;
    }
}

TEST(UtcTime, ParsesOnlyTheWrittenForm) {
    EXPECT_EQ(parseUtcTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseUtcTime("2000-03-01T00:00:00Z"), 951868800);
    EXPECT_EQ(parseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
    EXPECT_EQ(parseUtcTime("2024-02-29T23:59:59.75Z"), 1709251199);
    for (const char* bad : {"2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z",
                            "2024-01-01T00:00:00", "2024-01-01 00:00:00Z",
                            "2024-01-01T00:00:00+00:00",
                            "2024-01-01", "2024-01-01T00:00:00.Z", "2024-1-01T00:00:00Z", ""})
        EXPECT_FALSE(parseUtcTime(bad)) << bad;
    for (int64_t t : {int64_t{0}, int64_t{951868800}, int64_t{1709251199}, int64_t{4102444800}})
        EXPECT_EQ(parseUtcTime(formatUtcTime(t)), t) << formatUtcTime(t);
    EXPECT_EQ(formatUtcTime(1709251199), "2024-02-29T23:59:59Z");
}

TEST(PackageBindingValue, OnlyTheExactShape) {
    const std::string hex(64, 'a');
    const auto read = [](const char* text) {
        return readPackageBinding(nlohmann::json::parse(text));
    };
    const auto good = readPackageBinding({{"size", 12}, {"sha256", hex}});
    ASSERT_TRUE(good);
    EXPECT_EQ(good->size, 12u);
    EXPECT_EQ(good->sha256[0], 0xaa);
    EXPECT_EQ(packageBindingJson(*good), (nlohmann::json{{"size", 12}, {"sha256", hex}}));
    EXPECT_FALSE(readPackageBinding({{"size", 12}, {"sha256", std::string(64, 'A')}}));
    EXPECT_FALSE(readPackageBinding({{"size", 12}, {"sha256", std::string(63, 'a')}}));
    EXPECT_FALSE(readPackageBinding({{"size", -1}, {"sha256", hex}}));
    EXPECT_FALSE(readPackageBinding({{"size", "12"}, {"sha256", hex}}));
    EXPECT_FALSE(readPackageBinding({{"size", 12}, {"sha256", hex}, {"more", 1}}));
    EXPECT_FALSE(read(R"({"size": 12.5, "sha256": "00"})"));
    EXPECT_FALSE(read("[12]"));
}

TEST(BundleVersionValue, RootTextVersionOnly) {
    const auto versionOf = [](const nlohmann::json& document) {
        const std::vector<uint8_t> cbor = nlohmann::json::to_cbor(document);
        return bundleVersion(cbor.data(), cbor.size());
    };
    EXPECT_EQ(versionOf({{"files", {{{"n", "a"}, {"t", "d"}}}}, {"version", "2.0"}}), "2.0");
    EXPECT_EQ(versionOf({{"version", 2}}), std::nullopt);
    EXPECT_EQ(versionOf({{"files", nullptr}}), std::nullopt);
    EXPECT_EQ(versionOf(nlohmann::json::array({"version", "2.0"})), std::nullopt);
    const uint8_t cut[] = {0xA1, 0x67, 'v', 'e', 'r', 's', 'i', 'o', 'n', 0x63, '2', '.'};
    EXPECT_EQ(bundleVersion(cut, sizeof cut), std::nullopt);
}

TEST(Sha256Hash, KnownDigestInAnyParts) {
    Sha256 hash;
    hash.add(reinterpret_cast<const uint8_t*>("ab"), 2);
    hash.add(reinterpret_cast<const uint8_t*>("c"), 1);
    const auto digest = hash.finish();
    ASSERT_TRUE(digest);
    EXPECT_EQ(sha256Hex(*digest),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// The check of a package against the settings' binding, as for a file beside the setup (whole)
// and for a download (in arriving parts): the signature alone is not enough.
TEST(BoundCheckOfPackage, FindsAnotherSignedPackageBesideAndInADownload) {
    const auto keys = makeKeyPair();
    const auto signedPackage = [&](uint32_t seed) {
        return signedBytes(patternBytes(200000, seed), kPackageContext, keys.secret);
    };
    const std::vector<uint8_t> named = signedPackage(1);
    const std::vector<uint8_t> other = signedPackage(2);
    Sha256 hash;
    hash.add(named.data(), named.size());
    const PackageBinding binding{named.size(), *hash.finish()};
    PackageBinding wrongSize = binding;
    wrongSize.size += 1;

    const auto beside = [&](const std::vector<uint8_t>& file, const PackageBinding* bound) {
        BoundCheck check(kPackageContext, bound);
        check.addWhole(file.data(), file.size());
        return check.failure(file.size(), keys.publicKey);
    };
    const auto download = [&](const std::vector<uint8_t>& file, const PackageBinding* bound) {
        BoundCheck check(kPackageContext, bound);
        for (size_t at = 0, step = 1; at < file.size(); at += step, step = step * 3 % 9001 + 1)
            check.add(file.data() + at, std::min(step, file.size() - at));
        return check.failure(file.size(), keys.publicKey);
    };
    using Check = std::function<std::string(const std::vector<uint8_t>&, const PackageBinding*)>;
    for (const Check& check : {Check(beside), Check(download)}) {
        EXPECT_EQ(check(named, &binding), "");
        EXPECT_EQ(check(other, nullptr), "") << "its signature alone is valid";
        EXPECT_NE(check(other, &binding).find("SHA-256"), std::string::npos);
        EXPECT_NE(check(named, &wrongSize).find("size"), std::string::npos);
        std::vector<uint8_t> flipped = named;
        flipped[100] ^= 1;
        EXPECT_EQ(check(flipped, &binding), "INVALID");
    }
}

// With a block map the arrival check also tells which block differed, and holds what checked;
// each of its checks refuses alone, in the order the log names them.
TEST(BoundCheckOfPackage, TheBlockMapRoadNamesTheBlockAndEachCheckRefusesAlone) {
    const auto keys = makeKeyPair();
    const std::vector<uint8_t> named =
        signedBytes(patternBytes(3 * kSmallestBlock + 10, 5), kPackageContext, keys.secret);
    Sha256 whole;
    whole.add(named.data(), named.size());
    const PackageBinding binding{named.size(), *whole.finish()};
    const auto blocksOf = [](const std::vector<uint8_t>& file) {
        BlockMap map{kSmallestBlock, {}};
        for (size_t at = 0; at < file.size(); at += kSmallestBlock) {
            Sha256 block;
            block.add(file.data() + at, std::min<size_t>(kSmallestBlock, file.size() - at));
            map.sha256.push_back(*block.finish());
        }
        return map;
    };
    const BlockMap map = blocksOf(named);
    BlockMap otherBlock = map;
    otherBlock.sha256[2][0] ^= 1;
    PackageBinding otherHash = binding;
    otherHash.sha256[3] ^= 1;
    PackageBinding otherSize = binding;
    otherSize.size += 1;
    // Another signature, with the size, hash and blocks of its own file: only it can refuse.
    std::vector<uint8_t> badSignature = named;
    badSignature.back() ^= 1;
    Sha256 badHash;
    badHash.add(badSignature.data(), badSignature.size());
    const PackageBinding badBinding{badSignature.size(), *badHash.finish()};
    const BlockMap badBlocks = blocksOf(badSignature);
    struct Row {
        const char* what;
        const std::vector<uint8_t>* file;
        const PackageBinding* binding;
        const BlockMap* blocks;
        std::string failure;  // its start
        uint64_t checkedEnd;
    };
    const std::vector<Row> rows = {
        {"intact", &named, &binding, &map, "", named.size()},
        {"a block's hash", &named, &binding, &otherBlock, "INVALID (block 2 of 4: SHA-256 ",
         2 * kSmallestBlock},
        {"the whole hash", &named, &otherHash, &map, "INVALID (SHA-256 ", named.size()},
        // The map is of one byte more: its last block never ends.
        {"the size", &named, &otherSize, &map, "INVALID (size ", 3 * kSmallestBlock},
        {"the signature", &badSignature, &badBinding, &badBlocks, "INVALID", named.size()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BoundCheck check(kPackageContext, row.binding, row.blocks);
        for (size_t at = 0; at < row.file->size(); at += 5000)
            check.add(row.file->data() + at, std::min<size_t>(5000, row.file->size() - at));
        ASSERT_NE(check.blocks(), nullptr);
        EXPECT_EQ(check.blocks()->checkedEnd(), row.checkedEnd);
        const std::string failure = check.failure(row.file->size(), keys.publicKey);
        EXPECT_EQ(failure.substr(0, row.failure.size()), row.failure) << failure;
        if (row.failure.size() <= std::string("INVALID").size()) {
            EXPECT_EQ(failure, row.failure);
        }
    }
    // A map is taken only with a binding.
    EXPECT_EQ(BoundCheck(kPackageContext, nullptr, &map).blocks(), nullptr);
}

}  // namespace
}  // namespace tessaryn
