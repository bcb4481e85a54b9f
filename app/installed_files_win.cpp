#include "app/installed_files_win.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "package/output_file.h"
#include "system/handles_win.h"
#include "system/nt_files_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kCopyBuffer = 256 * 1024;

bool plainObject(HANDLE handle, bool folder, BY_HANDLE_FILE_INFORMATION& info) {
    if (!GetFileInformationByHandle(handle, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A second name of a file is a way to change it that does not pass this folder.
    return folder ? isFolder : !isFolder && info.nNumberOfLinks == 1;
}

// The folders on the way to a file, opened one part at a time beneath the last, none a link.
// The last one opened is kept, as the index lists files folder by folder.
class FolderWalk {
  public:
    explicit FolderWalk(const std::wstring& root) {
        root_.reset(CreateFileW(root.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                                  FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        // The install folder's own path must not pass a link either.
        if (root_ && (!plainObject(root_.get(), true, info) ||
                      !reachedByPath(root_.get(), withoutSlash(root))))
            root_.reset();
    }
    bool open() const { return static_cast<bool>(root_); }

    // The folder holding `name` ("a/b/c": the folder "a/b"), or null.
    HANDLE folderOf(const std::wstring& name) {
        const size_t slash = name.find_last_of(L'/');
        const std::wstring path = slash == std::wstring::npos ? std::wstring() : name.substr(0, slash);
        if (path.empty()) return root_.get();
        if (path == lastPath_ && last_) return last_.get();
        lastPath_ = path;
        last_.reset();
        HANDLE parent = root_.get();
        UniqueFile step;
        for (size_t from = 0; from <= path.size();) {
            size_t to = path.find(L'/', from);
            if (to == std::wstring::npos) to = path.size();
            UniqueFile next = openBeneath(parent, path.substr(from, to - from),
                                          FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                              FILE_READ_ATTRIBUTES,
                                          kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
            BY_HANDLE_FILE_INFORMATION info;
            if (!next || !plainObject(next.get(), true, info)) return nullptr;
            step = std::move(next);
            parent = step.get();
            from = to + 1;
        }
        last_ = std::move(step);
        return last_.get();
    }

  private:
    static std::wstring withoutSlash(std::wstring path) {
        while (path.size() > 3 && path.back() == L'\\') path.pop_back();
        return path;
    }
    UniqueFile root_;
    UniqueFile last_;
    std::wstring lastPath_;
};

// Copies the open file into `target` while hashing what is read; the copy stays only when the
// digest is the signed one. Hashing the buffer that is written checks the bytes the copy holds.
bool copyIfSame(HANDLE source, const std::string& target, const KeptCandidate& file,
                uint8_t* buffer, KeptFigures& figures) {
    OutputFile copy;
    if (!copy.create(target)) return false;
    Sha256 hash;
    uint64_t left = file.size;
    while (left > 0) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(left < kCopyBuffer ? left : kCopyBuffer);
        if (!ReadFile(source, buffer, want, &got, nullptr) || got == 0) return false;
        hash.add(buffer, got);
        figures.hashedBytes += got;
        if (!copy.write(buffer, got)) return false;
        left -= got;
    }
    // A file that grew after its size was read is not the file that was hashed.
    DWORD extra = 0;
    if (!ReadFile(source, buffer, 1, &extra, nullptr) || extra != 0) return false;
    const std::optional<Sha256Digest> digest = hash.finish();
    if (!digest || *digest != file.sha256) return false;
    return copy.finish(true);
}

std::string targetPath(const std::wstring& staging, const std::string& name) {
    std::string path = toUtf8(staging) + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool keepOne(FolderWalk& walk, const std::wstring& staging, const KeptCandidate& file,
             uint8_t* buffer, KeptFigures& figures) {
    const std::wstring name = toWide(file.name);
    HANDLE folder = walk.folderOf(name);
    if (!folder) return false;
    const size_t slash = name.find_last_of(L'/');
    // No write sharing: nothing changes the file while it is read.
    UniqueFile source =
        openBeneath(folder, slash == std::wstring::npos ? name : name.substr(slash + 1),
                    GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                    FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
    BY_HANDLE_FILE_INFORMATION info;
    if (!source || !plainObject(source.get(), false, info)) return false;
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size != file.size) return false;
    // The staging folders are made before: a missing one only means the file is fetched.
    if (!copyIfSame(source.get(), targetPath(staging, file.name), file, buffer, figures))
        return false;
    ++figures.kept;
    figures.keptBytes += size;
    return true;
}

// Several workers, as in unpacking: each copy ends with a flush, which waits rather than
// computes. Each takes runs of neighbouring candidates, so that its walk stays in one folder.
constexpr unsigned kKeepWorkers = 8;
constexpr size_t kRun = 16;

struct KeepShared {
    const std::wstring& installed;
    const std::wstring& staging;
    const std::vector<KeptCandidate>& candidates;
    std::atomic<size_t> next{0};
    std::vector<char> kept;  // one byte each: workers set different elements at once
};

void keepWork(KeepShared& shared, KeptFigures& figures) {
    FolderWalk walk(shared.installed);
    if (!walk.open()) return;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBuffer]);
    if (!buffer) return;
    const size_t count = shared.candidates.size();
    for (size_t from; (from = shared.next.fetch_add(kRun)) < count;)
        for (size_t i = from; i < count && i < from + kRun; ++i)
            shared.kept[i] = keepOne(walk, shared.staging, shared.candidates[i], buffer.get(),
                                     figures);
}

}  // namespace

std::vector<bool> keepInstalledFiles(const std::wstring& installed, const std::wstring& staging,
                                     const std::vector<KeptCandidate>& candidates,
                                     KeptFigures& figures) {
    const DWORD started = GetTickCount();
    KeepShared shared{installed, staging, candidates, {0}, std::vector<char>(candidates.size(), 0)};
    const unsigned workers =
        static_cast<unsigned>(std::min<size_t>(kKeepWorkers, (candidates.size() + kRun - 1) / kRun));
    std::vector<KeptFigures> each(workers);
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) {
        try {
            threads.emplace_back([&shared, &each, w] { keepWork(shared, each[w]); });
        } catch (const std::system_error&) {
            break;  // fewer workers: the others and this thread take the rest
        }
    }
    if (workers > 0) keepWork(shared, each[0]);
    for (std::thread& thread : threads) thread.join();
    for (const KeptFigures& part : each) {
        figures.kept += part.kept;
        figures.keptBytes += part.keptBytes;
        figures.hashedBytes += part.hashedBytes;
    }
    figures.hashMs = GetTickCount() - started;
    return std::vector<bool>(shared.kept.begin(), shared.kept.end());
}

}  // namespace tessaryn
