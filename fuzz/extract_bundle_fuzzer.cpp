// Bundle extraction from arbitrary bytes: every input is written as a bundle file and extracted
// into a scratch folder that is emptied afterwards. Failures must be exceptions, never crashes,
// and nothing may land outside the scratch folder.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "package/bundle.h"

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path root;
    fs::path bundle;
    fs::path destination;
    Scratch() {
        root = fs::temp_directory_path() / ("tessaryn-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(root);
        bundle = root / "setup.pak";
        destination = root / "a" / "b" / "install";
    }
};

Scratch& scratch() {
    static Scratch instance;
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scratch& s = scratch();
    {
        std::ofstream file(s.bundle, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        (void)tessaryn::extractBundle(s.destination.string(), s.bundle.string(), [](float fraction, const std::string&) {
            if (!(fraction >= 0.0f && fraction < 1.0f)) std::abort();
        });
    } catch (const std::exception&) {
    }
    // Only the bundle and the destination's own branch may exist in the scratch folder.
    for (const auto& item : fs::directory_iterator(s.root)) {
        if (item.path() != s.bundle && item.path() != s.root / "a") std::abort();
    }
    if (fs::exists(s.root / "a")) {
        for (const auto& item : fs::directory_iterator(s.root / "a")) {
            if (item.path() != s.root / "a" / "b") std::abort();
        }
    }
    std::error_code ignored;
    fs::remove_all(s.root / "a", ignored);
    return 0;
}
