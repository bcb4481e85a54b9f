#include "system/run_log_win.h"

#include <windows.h>

#include <memory>

#include "system/handles_win.h"
#include "system/nt_files_win.h"
#include "system/private_folder_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

constexpr int kMaxLogNumber = 999;
// A link in place of the log is opened as itself, never followed: the setup runs elevated and
// the folder may be writable by other programs of the user.
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

UniqueFile openNamedLog(const std::wstring& path) {
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    if (length == 0 || length > MAX_PATH) return UniqueFile();
    UniqueFile file(CreateFileW(full, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, kOpenFlags, nullptr));
    if (!file) return file;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    // Emptied only when it is a plain file of one name, reached by the path asked for: a hard
    // link planted under the chosen name, or a folder link above it, would otherwise let the
    // log overwrite the file it leads to.
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plain =
        GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks == 1 &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    if (!plain || !reachedByPath(file.get(), full)) {
        // A file this open made at the end of a link goes again.
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (!existed)
            SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                       sizeof disposition);
        return UniqueFile();
    }
    if (!SetEndOfFile(file.get())) return UniqueFile();
    return file;
}

// In the Windows folder's Temp, never where the user's TEMP points: an elevated write there would
// go wherever the user's own environment says.
UniqueFile openNewLog(const std::string& productName) {
    const std::wstring temp = windowsTempFolder();
    const LocalTime today = localTimeNow();
    for (int number = 1; number <= kMaxLogNumber; ++number) {
        const std::wstring path =
            temp + toWide(defaultLogFileName(productName, today, number));
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, kOpenFlags, nullptr));
        if (file && reachedByPath(file.get(), path)) return file;
        if (file) {
            // Made through a folder link above the name: not written, and gone again.
            FILE_DISPOSITION_INFO disposition{TRUE};
            SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                       sizeof disposition);
            return UniqueFile();
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return UniqueFile();
}

}  // namespace

LocalTime localTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
            now.wMilliseconds};
}

bool openRunLog(const std::string& fileName, const std::string& productName) {
    try {
        UniqueFile file =
            fileName.empty() ? openNewLog(productName) : openNamedLog(toWide(fileName));
        if (!file) return false;
        auto owner = std::make_shared<UniqueFile>(std::move(file));
        setLogWriter([owner](std::string_view line) {
            DWORD written = 0;
            return WriteFile(owner->get(), line.data(), static_cast<DWORD>(line.size()), &written,
                             nullptr) &&
                   written == line.size();
        });
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace tessaryn
