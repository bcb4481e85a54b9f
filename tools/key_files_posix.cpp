// Owner-only secret key files and terminal detection with POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "package/path_text.h"
#include "tools/key_files.h"
#include "system/system_reason.h"

namespace tessaryn {

void makeOwnerOnlyFolders(const std::filesystem::path& folder) {
    std::filesystem::path made;
    for (const std::filesystem::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) == 0) {
            // The umask may have narrowed the mode; nobody but the owner may list the keys.
            ::chmod(made.c_str(), 0700);
        } else if (errno != EEXIST) {
            throw std::runtime_error("cannot create the folder " + pathText(made) + ": " +
                                     errnoReason());
        }
    }
}

void writeSecretKeyFile(const std::filesystem::path& path, const std::string& text,
                        bool overwrite) {
    // A fresh file is made each time, so that an old file's wider permissions never carry over.
    if (overwrite && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw std::runtime_error("cannot replace " + pathText(path) + ": " + std::strerror(errno));
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        if (error == EEXIST) {
            throw std::runtime_error(pathText(path) +
                                     " exists already (use --force to replace it)");
        }
        throw std::runtime_error("cannot create " + pathText(path) + ": " + std::strerror(error));
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(path.c_str());
            throw std::runtime_error("cannot write " + pathText(path) + ": " +
                                     std::strerror(error));
        }
        done += static_cast<size_t>(wrote);
    }
    // The umask may have narrowed the mode above; the owner keeps read and write.
    ::fchmod(fd, 0600);
    if (::close(fd) != 0) {
        throw std::runtime_error("cannot write " + pathText(path) + ": " + errnoReason());
    }
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace tessaryn
