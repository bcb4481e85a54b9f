#include <unistd.h>

#include "app/setup_settings.h"

namespace tessaryn {

std::string executableDirectory() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
    std::string path(buffer, static_cast<size_t>(length));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace tessaryn
