// Extraction benchmark: packs a generated mixed payload, then measures signature checking,
// extraction (with its peak resident memory) and, as the limit, bare LZMA decoding of the same
// entries with no file writes.
#include <LzmaDec.h>
#include <hydrogen.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/signed_file.h"
#include "tools/pack.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// Text from a small vocabulary, binaries with structure and noise, random bytes, small files.
uint64_t generatePayload(const fs::path& root, uint64_t targetBytes) {
    std::mt19937_64 random(20261208);
    static const char* const words[] = {"tessaryn",  "install", "window",   "progress", "package",
                                        "signature", "the",     "of",       "and",      "to",
                                        "file",      "folder",  "registry", "shortcut", "value",
                                        "error",     "0x7f",    "return"};
    const uint64_t quarter = targetBytes / 4;
    uint64_t total = 0;
    fs::create_directories(root / "text");
    for (int i = 0; total < quarter; ++i) {
        std::vector<uint8_t> text;
        while (text.size() < 4 * 1024 * 1024) {
            const std::string word = words[random() % std::size(words)];
            text.insert(text.end(), word.begin(), word.end());
            text.push_back(random() % 12 == 0 ? '\n' : ' ');
        }
        writeFile(root / "text" / ("doc" + std::to_string(i) + ".txt"), text);
        total += text.size();
    }
    fs::create_directories(root / "bin");
    for (int i = 0; total < 2 * quarter; ++i) {
        std::vector<uint8_t> binary(8 * 1024 * 1024);
        std::vector<uint8_t> block(4096);
        for (auto& b : block) b = static_cast<uint8_t>(random() % 64);
        for (size_t at = 0; at < binary.size(); ++at) {
            binary[at] =
                random() % 16 == 0 ? static_cast<uint8_t>(random()) : block[at % block.size()];
            if (at % 65536 == 0) block[random() % block.size()] = static_cast<uint8_t>(random());
        }
        writeFile(root / "bin" / ("module" + std::to_string(i) + ".dll"), binary);
        total += binary.size();
    }
    fs::create_directories(root / "media");
    for (int i = 0; total < 3 * quarter; ++i) {
        std::vector<uint8_t> noise(16 * 1024 * 1024);
        for (auto& b : noise) b = static_cast<uint8_t>(random());
        writeFile(root / "media" / ("clip" + std::to_string(i) + ".bin"), noise);
        total += noise.size();
    }
    for (int i = 0; total < targetBytes; ++i) {
        const fs::path folder = root / "small" / ("d" + std::to_string(i / 500));
        if (i % 500 == 0) fs::create_directories(folder);
        std::vector<uint8_t> small(512 + random() % 4096);
        for (size_t at = 0; at < small.size(); ++at) {
            small[at] = static_cast<uint8_t>(random() % 4 == 0 ? random() : 'a' + at % 26);
        }
        writeFile(folder / ("f" + std::to_string(i) + ".cfg"), small);
        total += small.size();
    }
    return total;
}

void* allocate(void*, size_t size) {
    return std::malloc(size);
}
void release(void*, void* address) {
    std::free(address);
}

struct BareResult {
    uint64_t produced = 0;
    double parseSeconds = 0;
    double decodeSeconds = 0;
};

// The limit: each entry decoded by LzmaDecode into one reused buffer, nothing written. Reading
// and parsing the document are timed apart from the decoding.
BareResult bareDecode(const fs::path& bundle) {
    BareResult result;
    auto start = Clock::now();
    const auto root = nlohmann::json::from_cbor(tessaryn::readWholeFile(bundle));
    result.parseSeconds = secondsSince(start);
    ISzAlloc allocator = {allocate, release};
    std::vector<uint8_t> buffer;
    start = Clock::now();
    for (const auto& entry : root.at("files")) {
        if (entry.at("t") != "f") continue;
        const auto& data = entry.at("d").get_binary();
        uint64_t size = 0;
        for (int i = 0; i < 8; ++i) size |= static_cast<uint64_t>(data[5 + i]) << (8 * i);
        if (buffer.size() < size) buffer.resize(size);
        SizeT outLen = size;
        SizeT inLen = data.size() - 13;
        ELzmaStatus status;
        if (LzmaDecode(buffer.data(), &outLen, data.data() + 13, &inLen, data.data(),
                       LZMA_PROPS_SIZE, LZMA_FINISH_ANY, &status, &allocator) != SZ_OK) {
            std::fprintf(stderr, "bare decoding failed\n");
            std::exit(1);
        }
        result.produced += outLen;
    }
    result.decodeSeconds = secondsSince(start);
    return result;
}

// Runs the extraction in a fresh process (this program again) so that its peak memory is its
// own and not what packing left behind here.
void measureExtraction(const fs::path& bundle, const fs::path& destination, uint64_t payloadBytes) {
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "extract_bench", "--extract", bundle.c_str(), destination.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    const double seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
    std::printf("extraction:        %8.1f MB/s of uncompressed output (%.2f s)\n",
                payloadBytes / kMiB / seconds, seconds);
    std::printf("extraction peak RSS: %6.1f MB (ru_maxrss of the extracting process)\n",
                usage.ru_maxrss / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--extract") {
        try {
            tessaryn::extractBundle(argv[3], argv[2], {});
            return 0;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "extraction failed: %s\n", error.what());
            return 1;
        }
    }
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("build/bench-work");
    const uint64_t targetMb = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
    const int level = argc > 3 ? std::atoi(argv[3]) : 1;
    tessaryn::initSignatures();
    fs::remove_all(work);
    const fs::path source = work / "payload";
    auto start = Clock::now();
    const uint64_t payload = generatePayload(source, targetMb * 1024 * 1024);
    std::printf("payload:           %8.1f MB generated in %.1f s\n", payload / kMiB,
                secondsSince(start));

    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    tessaryn::SecretKey secret;
    tessaryn::PublicKey publicKey;
    std::copy(std::begin(pair.sk), std::end(pair.sk), secret.begin());
    std::copy(std::begin(pair.pk), std::end(pair.pk), publicKey.begin());

    tessaryn::PackOptions options;
    options.folder = source;
    options.output = work / "bench.pak";
    options.level = level;
    start = Clock::now();
    const tessaryn::PackSummary summary = tessaryn::packFolder(options, secret);
    std::printf(
        "package:           %8.1f MB, %zu files, %zu folders, LZMA level %d, packed in %.1f s\n",
        summary.outputBytes / kMiB, summary.files, summary.directories, level, secondsSince(start));

    start = Clock::now();
    const std::vector<uint8_t> taken = tessaryn::takeTrailingSignature(options.output);
    tessaryn::Signature signature{};
    std::copy(taken.begin(), taken.end(), signature.begin());
    const bool valid =
        taken.size() == signature.size() &&
        tessaryn::verifySignedFile(signature, options.output, tessaryn::kPackageContext, publicKey);
    double seconds = secondsSince(start);
    if (!valid) {
        std::fprintf(stderr, "signature check failed\n");
        return 1;
    }
    std::printf("verification:      %8.1f MB/s of package (%.2f s)\n",
                fs::file_size(options.output) / kMiB / seconds, seconds);

    const BareResult bare = bareDecode(options.output);
    if (bare.produced != payload) {
        std::fprintf(stderr, "bare decoding produced %llu bytes, expected %llu\n",
                     static_cast<unsigned long long>(bare.produced),
                     static_cast<unsigned long long>(payload));
        return 1;
    }
    std::printf(
        "bare LZMA decoding: %7.1f MB/s, no file writes (%.2f s; reading and parsing the "
        "document before it: %.2f s)\n",
        payload / kMiB / bare.decodeSeconds, bare.decodeSeconds, bare.parseSeconds);

    start = Clock::now();
    measureExtraction(options.output, work / "installed", payload);
    const double extractSeconds = secondsSince(start);
    std::printf("ratio extraction / bare decoding (speed): %.2f\n",
                bare.decodeSeconds / extractSeconds);
    fs::remove_all(work);
    return 0;
}
