#pragma once
// Writing extracted files and making folders with the system's own calls (UTF-8 paths).
#include <cstddef>
#include <cstdint>
#include <string>

#include "package/unpack_result.h"

namespace tessaryn {

// One file being written: created (or truncated) by create, closed by finish or, with its
// partial content deleted, by discard or the destructor. finish(true) writes it through to the
// disk first, on the thread that wrote it, while the handle is still open.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { discard(); }

    bool create(const std::string& path);
    bool write(const uint8_t* data, size_t size);
    bool finish(bool flush = false);
    void discard() noexcept;

  private:
    intptr_t file_ = -1;
    std::string path_;
};

// Makes the folder and any missing parents, for the bundle's entry at `entry`: Done, or Failed
// with the system's text.
UnpackResult makeDirectories(const std::string& path, size_t entry);

// True for the separators a path of this system may contain.
bool isPathSeparator(char c);

}  // namespace tessaryn
