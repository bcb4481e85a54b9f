#pragma once
// A file opened for reading that nothing else may change, replace or delete while it is held
// (on Windows: no write or delete sharing), seen through a read-only mapping. The bytes that are
// checked and the bytes that are used come from this one view.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tessaryn {

class LockedFile {
  public:
    LockedFile() = default;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    ~LockedFile();

    // Opens and maps the file at a UTF-8 path; empty when it cannot be opened, is no regular
    // file or cannot be mapped (systemCode, when given, then holds the system's error number).
    static std::optional<LockedFile> open(const std::string& path, int* systemCode = nullptr);
    // Takes over a file already open for reading (a HANDLE on Windows, a descriptor elsewhere)
    // and maps it. The caller opened it without write or delete sharing and never wrote to it
    // through another handle since; the file is closed on failure too.
    static std::optional<LockedFile> adopt(intptr_t file, int* systemCode = nullptr);

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    void close() noexcept;

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    intptr_t file_ = -1;     // HANDLE or file descriptor
    intptr_t mapping_ = 0;   // mapping object (Windows only)
};

}  // namespace tessaryn
