#include "system/file_tree_win.h"

#include <windows.h>

#include <algorithm>

#include "system/nt_files_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

void walk(const std::wstring& root, const std::wstring& relative, std::vector<TreeFile>& files) {
    for (const FolderEntry& entry : listFolder(root + L"\\" + relative)) {
        const bool folder = entry.attributes & FILE_ATTRIBUTE_DIRECTORY;
        const bool link = entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
        if (folder && !link) {
            walk(root, relative + entry.name + L"\\", files);
        } else if (!folder) {
            if (files.size() >= kMaxTreeFiles) return;
            files.push_back({toUtf8(relative + entry.name), entry.size});
        }
        if (files.size() >= kMaxTreeFiles) return;
    }
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

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace tessaryn
