// The least an unpacking can cost on this system: the files of a folder, read into memory
// first, written again under another folder with the plainest calls (one thread, no decoding,
// no flushing). Prints the seconds of the writing alone. Used by scripts/bench-install, which
// runs it under Wine beside the setup it times.
//
//     write_floor SOURCE DESTINATION
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct FileCopy {
    std::wstring relative;
    std::vector<char> bytes;
};

bool readTree(const std::wstring& root, const std::wstring& relative, std::vector<FileCopy>& files,
              std::vector<std::wstring>& folders) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((root + relative + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool read = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(child);
            read = readTree(root, child, files, folders) && read;
            continue;
        }
        HANDLE file = ::CreateFileW((root + child).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        FileCopy copy{child, std::vector<char>(entry.nFileSizeLow)};
        DWORD got = 0;
        read = ::ReadFile(file, copy.bytes.data(), entry.nFileSizeLow, &got, nullptr) &&
               got == entry.nFileSizeLow && entry.nFileSizeHigh == 0 && read;
        ::CloseHandle(file);
        files.push_back(std::move(copy));
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return read;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_floor SOURCE DESTINATION\n");
        return 2;
    }
    const std::wstring source = argv[1];
    const std::wstring destination = argv[2];
    std::vector<FileCopy> files;
    std::vector<std::wstring> folders;
    if (!readTree(source, L"", files, folders)) {
        std::fprintf(stderr, "write_floor: cannot read the source folder\n");
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    ::CreateDirectoryW(destination.c_str(), nullptr);
    for (const std::wstring& folder : folders)
        ::CreateDirectoryW((destination + folder).c_str(), nullptr);
    for (const FileCopy& copy : files) {
        HANDLE file = ::CreateFileW((destination + copy.relative).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD size = static_cast<DWORD>(copy.bytes.size());
        DWORD written = 0;
        const bool wrote =
            file != INVALID_HANDLE_VALUE &&
            (size == 0 || (::WriteFile(file, copy.bytes.data(), size, &written, nullptr) &&
                           written == size));
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        if (!wrote) {
            std::fprintf(stderr, "write_floor: cannot write a file\n");
            return 1;
        }
    }
    ::QueryPerformanceCounter(&end);
    std::printf("%zu files written in %.3f s\n", files.size(),
                static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
