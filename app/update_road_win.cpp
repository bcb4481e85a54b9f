#include "app/update_road_win.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "app/installed_files_win.h"
#include "app/range_assembly.h"
#include "app/status_texts.h"
#include "net/range_fetch_win.h"
#include "package/entry_name.h"
#include "package/lzma_entry.h"
#include "package/output_file.h"
#include "system/handles_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

// What a request costs beyond its ranges' bytes (headers, a part's framing), to compare the
// ranges with the whole package.
constexpr uint64_t kRequestOverhead = 1024;

// The fetched entries' bytes, back to back, in a new file of the run's private folder written
// through this handle only; mapped read-only once every entry in it has checked.
class Spool {
  public:
    Spool(const std::wstring& path, uint64_t size) : path_(path) {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        if (file_ && (!SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) ||
                      !SetEndOfFile(file_.get())))
            file_.reset();
    }
    ~Spool() {
        view_.reset();
        mapping_.reset();
        if (file_) {
            file_.reset();
            DeleteFileW(path_.c_str());
        }
    }
    bool open() const { return static_cast<bool>(file_); }

    bool write(uint64_t at, const uint8_t* data, size_t size) {
        while (size > 0) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file_.get(), data, part, &written, &where) || written == 0) return false;
            at += written;
            data += written;
            size -= written;
        }
        return true;
    }

    const uint8_t* map() {
        mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping_) view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
        return static_cast<const uint8_t*>(view_.get());
    }

  private:
    std::wstring path_;
    UniqueFile file_;
    UniqueKernelHandle mapping_;
    UniqueMappedView view_;
};

std::vector<KeptCandidate> candidatesOf(const FileIndex& index) {
    std::vector<KeptCandidate> candidates;
    candidates.reserve(index.files.size());
    for (const IndexedFile& file : index.files)
        candidates.push_back({file.name, file.size, file.sha256});
    return candidates;
}

std::string stagingPath(const std::wstring& staging, const std::string& name) {
    std::string path = toUtf8(staging) + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::vector<FilePiece> waitingPieces(const RangeAssembly& assembly) {
    std::vector<FilePiece> pieces;
    for (size_t i = 0; i < assembly.count(); ++i)
        if (assembly.state(i) == EntryState::Waiting)
            pieces.push_back({assembly.entry(i).offset, assembly.entry(i).length});
    return pieces;
}

// Where the last waiting entry ends: as far as the whole file is worth reading when a host
// answers with it (pieces in package order).
uint64_t waitingEnd(const std::vector<FilePiece>& pieces) {
    uint64_t end = 0;
    for (const FilePiece& piece : pieces) end = std::max(end, piece.offset + piece.length);
    return end;
}

bool allChecked(const RangeAssembly& assembly) {
    return assembly.checkedCount() == assembly.count();
}

struct FetchFigures {
    RangeTally tally;
    uint64_t bytes = 0;
};

// Fetches every entry of the assembly: the first source first, and after a failure (an answer
// refused, cut or short of any entry, an entry whose bytes fail their digest) the next one,
// once. A host that answers with the whole file gives the entries from it, read no further
// than the last one wanted: never more than the whole package would cost. Empty when all have
// checked, else the reason to fetch the whole package.
std::string fetchEntries(const UpdateRequest& request, RangeAssembly& assembly,
                         FetchFigures& figures) {
    RangeFetchOptions options;
    options.userAgent = request.userAgent;
    const RangeSink sink = [&](uint64_t offset, const uint8_t* data, size_t size) {
        return assembly.take(offset, data, size);
    };
    size_t source = 0;
    while (!allChecked(assembly)) {
        if (!mayRequestAgain(figures.tally)) return "too many requests";
        const std::vector<FilePiece> waiting = waitingPieces(assembly);
        const auto plan = planRanges(waiting, RangeLimits{});
        if (plan.empty()) return "nothing left to ask for";
        options.wholeEnd = waitingEnd(waiting);
        const size_t before = assembly.checkedCount() + assembly.refusedCount();
        const RangeFetchResult got =
            fetchRanges(request.sources[source], plan.front(), request.packageSize, sink, options);
        figures.bytes += got.bodyBytes;
        assembly.endAnswer();
        if (got.status == 200)
            logLine("Update: the host ignores byte ranges (HTTP 200), its whole file read up "
                    "to the last entry wanted");
        const size_t refused = assembly.refusedCount();
        const bool gained = assembly.checkedCount() + refused > before;
        const bool read = got.answer == RangeAnswer::Taken || got.answer == RangeAnswer::Whole;
        const RangeStep step = afterAnswer(figures.tally, read, gained, refused);
        if (step == RangeStep::Next) continue;
        const std::string why = refused ? std::to_string(refused) +
                                              " entries whose bytes do not match the index"
                                        : got.why.empty() ? "an answer without the ranges asked"
                                                          : got.why;
        logLine("Update: " + why + " from " + request.sources[source]);
        if (step == RangeStep::WholePackage) return why + ", twice";
        assembly.wantRefusedAgain();
        source = sourceAfterFailure(source, request.sources.size());
    }
    return {};
}

// Decodes one checked entry into its file, which must then have the signed size and digest.
bool decodeEntry(EntryDecoder& decoder, const uint8_t* bytes, const IndexedFile& file,
                 const std::string& target) {
    const size_t slash = target.find_last_of('\\');
    if (slash != std::string::npos && !makeDirectories(target.substr(0, slash), 0).isDone())
        return false;
    OutputFile output;
    if (!output.create(target)) return false;
    Sha256 hash;
    uint64_t written = 0;
    const DecodedSink sink = [&](const uint8_t* data, size_t size) {
        if (size > file.size - written) return false;  // longer than signed
        hash.add(data, size);
        written += size;
        return output.write(data, size);
    };
    if (decoder.decode(bytes, static_cast<size_t>(file.length), sink) != DecodeStatus::Ok)
        return false;
    const std::optional<Sha256Digest> digest = hash.finish();
    return written == file.size && digest && *digest == file.sha256 && output.finish(true);
}

}  // namespace

namespace {

struct Wanted {
    std::vector<WantedEntry> entries;
    std::vector<size_t> files;  // each entry's place in the index
    uint64_t bytes = 0;
};

Wanted wantedEntries(const FileIndex& index, const std::vector<bool>& kept) {
    Wanted wanted;
    for (size_t i = 0; i < index.files.size(); ++i) {
        if (kept[i]) continue;
        const IndexedFile& file = index.files[i];
        wanted.entries.push_back({file.offset, file.length, file.bytesSha256, wanted.bytes});
        wanted.files.push_back(i);
        wanted.bytes += file.length;
    }
    return wanted;
}

// Empty when the folders the index names are in the staging folder.
std::string makeFolders(const UpdateRequest& request) {
    for (const std::string& folder : request.index->folders) {
        if (!entryNameEscapeReason(folder).empty()) return "a folder name that leaves the folder";
        if (!makeDirectories(stagingPath(request.staging, folder), 0).isDone())
            return "a folder could not be made";
    }
    for (const IndexedFile& file : request.index->files)
        if (!entryNameEscapeReason(file.name).empty()) return "a file name that leaves the folder";
    return {};
}

// Empty when ranges for the wanted entries cost less than the whole package.
std::string cheaperThanWhole(const Wanted& wanted, uint64_t packageSize) {
    std::vector<FilePiece> pieces;
    for (const WantedEntry& entry : wanted.entries) pieces.push_back({entry.offset, entry.length});
    const auto plan = planRanges(pieces, RangeLimits{});
    uint64_t cost = 0;
    for (const auto& spans : plan) cost += spanBytes(spans) + kRequestOverhead;
    return cost < packageSize ? std::string() : "the entries to fetch are most of the package";
}

// Decodes the checked entries from the spool into the staging folder.
std::string decodeAll(const UpdateRequest& request, const Wanted& wanted, Spool& spool,
                      ProgressWindow& window) {
    const uint8_t* view = spool.map();
    if (!view) return "the fetched entries could not be read back";
    EntryDecoder decoder;
    for (size_t i = 0; i < wanted.files.size(); ++i) {
        const IndexedFile& file = request.index->files[wanted.files[i]];
        if (!decodeEntry(decoder, view + wanted.entries[i].spoolAt, file,
                         stagingPath(request.staging, file.name)))
            return "the file " + file.name + " does not decode to its signed digest";
        window.advanceProgress(static_cast<int>(50 + 50 * (i + 1) / wanted.files.size()));
    }
    return {};
}

}  // namespace

UnpackResult updateIntoStaging(const UpdateRequest& request, ProgressWindow& window) {
    const FileIndex& index = *request.index;
    if (std::string why = makeFolders(request); !why.empty()) return UnpackResult::failed(0, why);
    KeptFigures kept;
    const std::vector<bool> keep =
        keepInstalledFiles(request.installed, request.staging, candidatesOf(index), kept);
    logLine("Update: " + std::to_string(kept.kept) + " of " + std::to_string(index.files.size()) +
            " files kept from the installed version (" + std::to_string(kept.hashedBytes) +
            " bytes hashed in " + std::to_string(kept.hashMs) + " ms)");
    const Wanted wanted = wantedEntries(index, keep);
    window.setStatusText(toWide(updateStatusLine(uiTexts(), wanted.files.size(),
                                                 index.files.size(), wanted.bytes, kept.kept)));
    if (wanted.files.empty()) {
        logLine("Update: 0 files fetched, 0 bytes in 0 requests");
        return UnpackResult::done();
    }
    if (std::string why = cheaperThanWhole(wanted, request.packageSize); !why.empty())
        return UnpackResult::failed(0, why);
    Spool spool(request.workDir + L"update-entries.tmp", wanted.bytes);
    if (!spool.open()) return UnpackResult::failed(0, "no room for the fetched entries");
    RangeAssembly assembly(wanted.entries, [&](uint64_t at, const uint8_t* data, size_t size) {
        return spool.write(at, data, size);
    });
    FetchFigures fetched;
    std::string why = fetchEntries(request, assembly, fetched);
    logLine("Update: " + std::to_string(assembly.checkedCount()) + " files fetched, " +
            std::to_string(fetched.bytes) + " bytes in " + std::to_string(fetched.tally.requests) +
            " requests (" + std::to_string(wanted.bytes) + " bytes of entries)");
    if (!why.empty()) return UnpackResult::failed(0, why);
    window.advanceProgress(50);
    why = decodeAll(request, wanted, spool, window);
    if (!why.empty()) return UnpackResult::failed(0, why);
    return UnpackResult::done();
}

}  // namespace tessaryn
