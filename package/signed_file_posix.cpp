// Taking the signature off a file with POSIX calls (the publisher tool and native tests).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/signed_file.h"

namespace tessaryn {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::vector<uint8_t> takeTrailingSignature(const std::filesystem::path& path) {
    std::vector<uint8_t> signature(kSignatureBytes, 0);
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0) return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    const off_t size = info.st_size;
    if (size < static_cast<off_t>(kSignatureBytes)) return {};
    const off_t payloadSize = size - static_cast<off_t>(kSignatureBytes);
    size_t done = 0;
    while (done < kSignatureBytes) {
        const ssize_t got = ::pread(file.get(), signature.data() + done, kSignatureBytes - done,
                                    payloadSize + static_cast<off_t>(done));
        if (got <= 0) return {};
        done += static_cast<size_t>(got);
    }
    // Truncation comes last, so that every failure above leaves the file whole.
    if (::ftruncate(file.get(), payloadSize) != 0) return {};
    return signature;
}

}  // namespace tessaryn
