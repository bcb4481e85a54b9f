// Extraction benchmark: packs a generated mixed payload (on one thread and on every core), then
// measures signature checking (with the portable and the SSSE3 build of the hashing),
// extraction with one thread and with the pool (each with its peak private memory) and, as the
// limit, bare single-threaded LZMA decoding of the same entries with no file writes.
#include <LzmaDec.h>
#include <hydrogen.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/locked_file.h"
#include "package/signature_check.h"
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
uint64_t generatePayload(const fs::path& root, uint64_t targetBytes, bool noise) {
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
        // Random bytes, or (fast to pack, for large payloads) blocks of a few random bytes
        // repeated with changes: compressible but not trivial to decode.
        std::vector<uint8_t> media(16 * 1024 * 1024);
        if (noise) {
            for (auto& b : media) b = static_cast<uint8_t>(random());
        } else {
            std::vector<uint8_t> block(1024);
            for (size_t at = 0; at < media.size(); ++at) {
                if (at % 512 == 0) block[random() % block.size()] = static_cast<uint8_t>(random());
                media[at] = static_cast<uint8_t>(block[at % block.size()] + at / 4096);
            }
        }
        writeFile(root / "media" / ("clip" + std::to_string(i) + ".bin"), media);
        total += media.size();
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
    const auto view = tessaryn::LockedFile::open(bundle.string());
    const auto root = nlohmann::json::from_cbor(view->data(), view->data() + view->size() - 64);
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

// A value in KiB from /proc/self/status ("RssAnon:" = private resident memory, "VmHWM:" = peak
// resident memory, file mappings included).
long statusKib(const char* key) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, key, std::strlen(key)) == 0) kib = std::atol(line + std::strlen(key));
    }
    std::fclose(status);
    return kib;
}

struct ExtractResult {
    double seconds = 0;
    double peakPrivateMb = 0;
    double peakResidentMb = 0;
};

// Runs the extraction in a fresh process (this program again) so that its memory is its own and
// not what packing left behind here; its private memory is sampled every millisecond.
ExtractResult measureExtraction(const fs::path& package, const fs::path& destination,
                                unsigned threads) {
    fs::remove_all(destination);
    // Each run starts with the disk quiet: the write-back of an earlier run must not slow it.
    ::sync();
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const std::string count = std::to_string(threads);
        execl("/proc/self/exe", "extract_bench", "--extract", package.c_str(), destination.c_str(),
              count.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ExtractResult result;
    int status = 0;
    waitpid(child, &status, 0);
    result.seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
    // The extracting process measured itself (after its exec, so none of this one's memory
    // counts) and left its two peaks beside the package.
    FILE* peaks = std::fopen((package.string() + ".peaks").c_str(), "r");
    long privateKib = 0, residentKib = 0;
    if (!peaks || std::fscanf(peaks, "%ld %ld", &privateKib, &residentKib) != 2) std::exit(1);
    std::fclose(peaks);
    result.peakPrivateMb = privateKib / 1024.0;
    result.peakResidentMb = residentKib / 1024.0;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--extract") {
        try {
            // As the setup does: one locked view, the bundle without its signature.
            // Private memory sampled every millisecond while the extraction runs.
            std::atomic<bool> done{false};
            std::atomic<long> peak{0};
            std::thread sampler([&] {
                while (!done) {
                    peak = std::max(peak.load(), statusKib("RssAnon:"));
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            const auto view = tessaryn::LockedFile::open(argv[2]);
            if (!view) throw std::runtime_error("cannot open the package");
            const tessaryn::UnpackResult unpacked = tessaryn::extractBundle(
                argv[3], view->data(), view->size() - tessaryn::kSignatureBytes, {},
                static_cast<unsigned>(std::atoi(argv[4])));
            if (!unpacked.isDone()) throw std::runtime_error(unpacked.text());
            done = true;
            sampler.join();
            peak = std::max(peak.load(), statusKib("RssAnon:"));
            FILE* peaks = std::fopen((std::string(argv[2]) + ".peaks").c_str(), "w");
            std::fprintf(peaks, "%ld %ld\n", peak.load(), statusKib("VmHWM:"));
            std::fclose(peaks);
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
    // Above 512 MB the random quarter is left out: packing it would take most of the run.
    const bool noise = targetMb <= 512;
    const uint64_t payload = generatePayload(source, targetMb * 1024 * 1024, noise);
    std::printf("payload:           %8.1f MB generated in %.1f s%s\n", payload / kMiB,
                secondsSince(start), noise ? "" : " (no random quarter)");

    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    tessaryn::SecretKey secret;
    tessaryn::PublicKey publicKey;
    std::copy(std::begin(pair.sk), std::end(pair.sk), secret.begin());
    std::copy(std::begin(pair.pk), std::end(pair.pk), publicKey.begin());

    tessaryn::PackOptions options;
    options.folder = source;
    options.level = level;
    // Packed on one thread and on every core; the extraction below reads the second package.
    tessaryn::PackSummary summary;
    for (const unsigned threads : {1u, 0u}) {
        options.threads = threads;
        options.output = work / (threads == 1 ? "bench-1.pak" : "bench.pak");
        start = Clock::now();
        summary = tessaryn::packFolder(options, secret);
        const double seconds = secondsSince(start);
        std::printf("packing, %-9s: %8.1f MB/s of payload (%.1f s)\n",
                    threads == 1 ? "1 thread" : "all cores", payload / kMiB / seconds, seconds);
    }
    fs::remove(work / "bench-1.pak");
    std::printf("package:           %8.1f MB, %zu files, %zu folders, LZMA level %d\n",
                summary.outputBytes / kMiB, summary.files, summary.directories, level);

    {
        const auto view = tessaryn::LockedFile::open(options.output.string());
        const double megabytes = view->size() / kMiB;
        for (const auto build : {tessaryn::HashBuild::Portable, tessaryn::HashBuild::Ssse3}) {
            const char* name = build == tessaryn::HashBuild::Portable ? "portable" : "SSSE3";
            if (!tessaryn::hashBuildAvailable(build)) {
                std::printf("verification (%s): not available on this processor\n", name);
                continue;
            }
            start = Clock::now();
            const bool valid = tessaryn::verifySignedBytes(
                view->data(), view->size(), tessaryn::kPackageContext, publicKey, build);
            const double seconds = secondsSince(start);
            if (!valid) {
                std::fprintf(stderr, "signature check failed\n");
                return 1;
            }
            std::printf("verification (%-8s): %8.1f MB/s of package (%.2f s, from its mapping)\n",
                        name, megabytes / seconds, seconds);
        }
    }

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

    const unsigned pool = tessaryn::defaultExtractThreads();
    for (const unsigned threads : {1u, pool}) {
        const ExtractResult run = measureExtraction(options.output, work / "installed", threads);
        std::printf("extraction, %u thread%s: %7.1f MB/s of output (%.2f s), ratio to bare decoding "
                    "%.2f, peak private memory %.1f MB (peak resident, mapping included: %.1f MB)\n",
                    threads, threads == 1 ? " " : "s", payload / kMiB / run.seconds, run.seconds,
                    bare.decodeSeconds / run.seconds, run.peakPrivateMb, run.peakResidentMb);
    }
    fs::remove_all(work);
    return 0;
}
