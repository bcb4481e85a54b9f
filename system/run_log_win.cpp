#include "system/run_log_win.h"

#include <windows.h>

#include <memory>

#include "system/handles_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

constexpr int kMaxLogNumber = 999;
// A link in place of the log is opened as itself, never followed: the setup runs elevated and
// the folder may be writable by other programs of the user.
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

UniqueFile openNamedLog(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, kOpenFlags, nullptr));
    if (!file) return file;
    // Emptied only when it is a plain file of one name: a hard link planted under the chosen
    // name would otherwise let the log overwrite the file it points to.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !SetEndOfFile(file.get()))
        return UniqueFile();
    return file;
}

UniqueFile openNewLog(const std::string& productName) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return UniqueFile();
    const LocalTime today = localTimeNow();
    for (int number = 1; number <= kMaxLogNumber; ++number) {
        const std::wstring path =
            temp + toWide(defaultLogFileName(productName, today, number));
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, kOpenFlags, nullptr));
        if (file) return file;
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
