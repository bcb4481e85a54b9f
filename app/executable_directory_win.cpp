#include <windows.h>

#include "app/setup_settings.h"
#include "system/process_win.h"
#include "system/unicode_win.h"

namespace tessaryn {

std::string executableDirectory() {
    const std::string path = toUtf8(getModulePath());
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace tessaryn
