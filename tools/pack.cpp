#include "tools/pack.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "package/path_text.h"
#include "package/signed_file.h"
#include "tools/lzma_encode.h"
#include "tools/signed_output.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;  // relative, "/" separators
    fs::path path;
    bool directory = false;
    uint64_t size = 0;
};

// Depth first, names sorted, each directory listed before what it holds.
void collect(const fs::path& folder, const std::string& prefix, std::vector<Entry>& entries) {
    std::vector<fs::directory_entry> children;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        children.push_back(*it);
    }
    if (error) throw std::runtime_error("cannot list " + pathText(folder) + ": " + error.message());
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& child : children) {
        const std::string name = prefix + pathText(child.path().filename());
        if (child.is_symlink()) {
            throw std::runtime_error("symbolic links cannot be packed: " + pathText(child.path()));
        }
        if (child.is_directory()) {
            entries.push_back({name, child.path(), true, 0});
            collect(child.path(), name + "/", entries);
        } else if (child.is_regular_file()) {
            entries.push_back({name, child.path(), false, child.file_size()});
        } else {
            throw std::runtime_error("not a regular file: " + pathText(child.path()));
        }
    }
}

class CborWriter {
  public:
    explicit CborWriter(SignedOutput& out) : out_(out) {}
    void head(uint8_t major, uint64_t value) {
        uint8_t bytes[9];
        size_t size = 1;
        if (value < 24) {
            bytes[0] = static_cast<uint8_t>(major << 5 | value);
        } else {
            int width = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFFFF ? 4 : 8;
            bytes[0] = static_cast<uint8_t>(major << 5 | (width == 1   ? 24
                                                          : width == 2 ? 25
                                                          : width == 4 ? 26
                                                                       : 27));
            for (int i = 0; i < width; ++i) {
                bytes[1 + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
            }
            size = 1 + static_cast<size_t>(width);
        }
        out_.write(bytes, size);
    }
    void text(const std::string& value) {
        head(3, value.size());
        out_.write(value.data(), value.size());
    }
    void bytes(const std::vector<uint8_t>& value) {
        head(2, value.size());
        out_.write(value.data(), value.size());
    }

  private:
    SignedOutput& out_;
};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw std::runtime_error("cannot read " + pathText(path));
    const std::streamoff size = file.tellg();
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        throw std::runtime_error("cannot read " + pathText(path));
    }
    return bytes;
}

}  // namespace

PackSummary packFolder(const PackOptions& options, const SecretKey& key) {
    std::error_code error;
    if (!fs::is_directory(options.folder, error)) {
        throw std::runtime_error("not a folder: " + pathText(options.folder));
    }
    std::vector<Entry> entries;
    collect(options.folder, "", entries);
    PackSummary summary;
    uint64_t total = 0;
    for (const Entry& entry : entries) total += entry.size;

    SignedOutput out(options.output, kPackageContext);
    CborWriter cbor(out);
    cbor.head(5, 2);
    cbor.text("version");
    cbor.text(options.version);
    cbor.text("files");
    cbor.head(4, entries.size());
    for (const Entry& entry : entries) {
        cbor.head(5, entry.directory ? 2 : 3);
        cbor.text("n");
        cbor.text(entry.name);
        cbor.text("t");
        cbor.text(entry.directory ? "d" : "f");
        if (entry.directory) {
            ++summary.directories;
        } else {
            const std::vector<uint8_t> content = readFile(entry.path);
            cbor.text("d");
            cbor.bytes(lzmaAloneEncode(content.data(), content.size(), options.level));
            ++summary.files;
            summary.inputBytes += content.size();
        }
        if (options.progress) options.progress(summary.inputBytes, total, entry.name);
    }
    out.finish(key);
    summary.outputBytes = out.written() + kSignatureBytes;
    return summary;
}

}  // namespace tessaryn
