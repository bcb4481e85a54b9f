#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "package/output_file.h"

namespace tessaryn {

bool isPathSeparator(char c) {
    return c == '/';
}

bool OutputFile::create(const std::string& path) {
    discard();
    path_ = path;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    file_ = fd;
    return true;
}

bool OutputFile::write(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(file_), data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool OutputFile::finish(bool flush) {
    if (file_ < 0) return false;
    if (flush && ::fsync(static_cast<int>(file_)) != 0) return false;
    const bool closed = ::close(static_cast<int>(file_)) == 0;
    file_ = -1;
    return closed;
}

void OutputFile::discard() noexcept {
    if (file_ < 0) return;
    ::close(static_cast<int>(file_));
    file_ = -1;
    ::unlink(path_.c_str());
}

UnpackResult makeDirectories(const std::string& path, size_t entry) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        if (path[at - 1] == '/') continue;
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0755) == 0) continue;
        const int error = errno;
        struct stat info {};
        if (::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
        return UnpackResult::failed(entry, "filesystem error: create_directories: " +
                                               std::string(std::strerror(error)) + " [" + path +
                                               "]");
    }
    return UnpackResult::done();
}

}  // namespace tessaryn
