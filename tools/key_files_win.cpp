// Secret key files and terminal detection with Win32 calls.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <stdexcept>

#include "package/path_text.h"
#include "system/handles_win.h"
#include "tools/key_files.h"
#include "system/system_reason.h"

namespace tessaryn {

void makeOwnerOnlyFolders(const std::filesystem::path& folder) {
    // A new folder takes its parent's access list; under the user's profile that already keeps
    // other users out.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::runtime_error("cannot create the folder " + pathText(folder) + ": " +
                                 error.message());
    }
}

void writeSecretKeyFile(const std::filesystem::path& path, const std::string& text,
                        bool overwrite) {
    // The file inherits the folder's access list; CREATE_NEW refuses to touch an existing key.
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                  overwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) {
        if (::GetLastError() == ERROR_FILE_EXISTS) {
            throw std::runtime_error(pathText(path) +
                                     " exists already (use --force to replace it)");
        }
        throw std::runtime_error("cannot create " + pathText(path) + ": " +
                                 systemReason(static_cast<int>(::GetLastError())));
    }
    DWORD wrote = 0;
    if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
        wrote != text.size()) {
        throw std::runtime_error("cannot write " + pathText(path) + ": " +
                                 systemReason(static_cast<int>(::GetLastError())));
    }
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace tessaryn
