// A real folder tree packed by the publisher code, checked and extracted by the setup's code.
#include <gtest/gtest.h>

#include "package/bundle.h"
#include "package/path_text.h"
#include "package/signature_check.h"
#include "tests/package/package_test_support.h"
#include "tools/pack.h"

namespace tessaryn {
namespace {

using namespace test;

// Relative generic name -> content (folders map to "<dir>").
std::map<std::string, std::vector<uint8_t>> snapshot(const fs::path& root) {
    std::map<std::string, std::vector<uint8_t>> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::u8string name = item.path().lexically_relative(root).generic_u8string();
        tree[std::string(name.begin(), name.end())] =
            item.is_directory() ? std::vector<uint8_t>{'<', 'd', 'i', 'r', '>'}
                                : readBytes(item.path());
    }
    return tree;
}

TEST(PackageRoundTrip, TreeComesBackByteIdentical) {
    initSignatures();
    ScratchFolder scratch;
    const fs::path source = scratch.path() / "product";
    fs::create_directories(source / "bin" / "plugins" / "deep");
    fs::create_directories(source / "empty folder");
    fs::create_directories(source / pathFromUtf8("données ✓"));
    writeBytes(source / "bin" / "app.exe", patternBytes(3 * 1024 * 1024 + 17, 11));
    std::vector<uint8_t> text;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = "line " + std::to_string(i) + " of a compressible text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    writeBytes(source / "bin" / "plugins" / "deep" / "notes.txt", text);
    writeBytes(source / "bin" / "plugins" / "empty.dll", {});
    writeBytes(source / pathFromUtf8("données ✓") / pathFromUtf8("ÆØÅ 日本.txt"), {'o', 'k'});
    writeBytes(source / "readme", std::vector<uint8_t>(8192 * 2, 'z'));

    const KeyPair keys = makeKeyPair();
    const fs::path package = scratch.path() / "setup.pak";
    PackOptions options;
    options.folder = source;
    options.output = package;
    options.version = "3.1.4";
    options.level = 1;  // fast: the test is about the round trip, not the ratio
    const PackSummary summary = packFolder(options, keys.secret);
    EXPECT_EQ(summary.files, 5u);
    EXPECT_EQ(summary.directories, 5u);
    EXPECT_EQ(summary.outputBytes, fs::file_size(package));
    EXPECT_FALSE(fs::exists(scratch.path() / "setup.pak.part"));

    // The payload is a CBOR document the JSON library reads on its own terms.
    const auto signedPackage = readBytes(package);
    EXPECT_TRUE(verifySignedBytes(signedPackage.data(), signedPackage.size(), kPackageContext,
                                  keys.publicKey));
    const std::vector<uint8_t> payload(signedPackage.begin(), signedPackage.end() - kSignatureBytes);
    const auto document = nlohmann::json::from_cbor(payload);
    EXPECT_EQ(document["version"], "3.1.4");
    EXPECT_EQ(document["files"][0]["n"], "bin");
    EXPECT_EQ(document["files"][0]["t"], "d");

    const fs::path installed = scratch.path() / "installed";
    float last = 0;
    EXPECT_TRUE(extractBundle(pathText(installed), payload.data(), payload.size(),
                              [&last](float fraction, const std::string&) {
                                  EXPECT_GE(fraction, last);
                                  EXPECT_LT(fraction, 1.0f);
                                  last = fraction;
                              })
                    .isDone());
    EXPECT_EQ(snapshot(installed), snapshot(source));
}

}  // namespace
}  // namespace tessaryn
