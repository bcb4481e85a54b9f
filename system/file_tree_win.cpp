#include "system/file_tree_win.h"

#include <windows.h>

#include <algorithm>

#include "system/handles_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

void walk(const std::wstring& root, const std::wstring& relative, std::vector<TreeFile>& files) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = root + L"\\" + relative + L"*";
    UniqueFind find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        const bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        if (folder && !link) {
            walk(root, relative + name + L"\\", files);
        } else if (!folder) {
            if (files.size() >= kMaxTreeFiles) return;
            files.push_back({toUtf8(relative + name),
                             (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow});
        }
    } while (files.size() < kMaxTreeFiles && FindNextFileW(find.get(), &found));
}

}  // namespace

std::vector<TreeFile> listFiles(const std::wstring& folder) {
    std::wstring root = folder;
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    std::vector<TreeFile> files;
    if (!root.empty()) walk(root, L"", files);
    std::sort(files.begin(), files.end(),
              [](const TreeFile& a, const TreeFile& b) { return a.name < b.name; });
    return files;
}

uint64_t totalSize(const std::vector<TreeFile>& files) {
    uint64_t total = 0;
    for (const TreeFile& file : files) total += file.size;
    return total;
}

}  // namespace tessaryn
