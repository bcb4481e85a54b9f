// The view on POSIX (publisher tool, native tests and benchmarks): a read-only mapping. POSIX
// has no mandatory share modes; the mapping still keeps reading the file that was opened when
// the name is replaced.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "package/locked_file.h"

namespace tessaryn {

void LockedFile::close() noexcept {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    if (file_ >= 0) ::close(static_cast<int>(file_));
    data_ = nullptr;
    size_ = 0;
    file_ = -1;
}

std::optional<LockedFile> LockedFile::open(const std::string& path, int* systemCode) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (systemCode) *systemCode = errno;
        return std::nullopt;
    }
    return adopt(fd, systemCode);
}

std::optional<LockedFile> LockedFile::adopt(intptr_t file, int* systemCode) {
    LockedFile result;
    auto fail = [systemCode](int code) -> std::optional<LockedFile> {
        if (systemCode) *systemCode = code;
        return std::nullopt;
    };
    const int fd = static_cast<int>(file);
    result.file_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return fail(errno);
    if (!S_ISREG(info.st_mode)) return fail(EISDIR);
    if (info.st_size == 0) return result;
    void* view = ::mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) return fail(errno);
    result.data_ = static_cast<const uint8_t*>(view);
    result.size_ = static_cast<size_t>(info.st_size);
    return result;
}

}  // namespace tessaryn
