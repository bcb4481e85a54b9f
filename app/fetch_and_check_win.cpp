#include "app/fetch_and_check_win.h"

#include <windows.h>

#include <optional>
#include <vector>


#include "app/download_job_win.h"
#include "package/public_key.h"
#include "package/bound_check.h"
#include "package/signature_check.h"
#include "system/handles_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

namespace {

// Parts of a copy; with the request's hooks, each is checked before the next is read.
constexpr DWORD kCopyPart = 1024 * 1024;

// A copy that could not be finished; the download is tried then, its check from the start.
bool copyFailed(const FetchRequest& request, bool follow, std::optional<BoundCheck>& check) {
    logLine("Cannot copy " + toUtf8(request.besideProgram) + " (error " +
            std::to_string(GetLastError()) + ")");
    // Whatever was unpacked of it lets go of the copy before the file is made again.
    if (follow && request.onRestart) request.onRestart();
    check.emplace(request.context, request.binding, request.blocks);
    return false;
}

// Copies the file beside the program into a new work copy through the copy's own handle (read
// sharing only: nothing else can write it). What lies beside the program is another program's
// to choose, so only a file on a disk is read, and no more than `largest` bytes and one: neither
// a pipe that never ends nor a file of any size holds the run or fills the system's disk (one
// byte more is enough for the check to refuse it). With `follow`, each part is fed to the check
// once written, so that unpacking follows the checked mark as it does a download. False, with
// the work copy closed and the check as new, when nothing could be copied: the download is
// tried then.
bool copyBesideProgram(const FetchRequest& request, uint64_t largest, bool follow,
                       std::optional<BoundCheck>& check, UniqueFile& kept, uint64_t& copied) {
    UniqueFile source(CreateFileW(request.besideProgram.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) return false;
    if (GetFileType(source.get()) != FILE_TYPE_DISK) {
        logLine("Not copied (no file on a disk): " + toUtf8(request.besideProgram));
        return false;
    }
    // A work copy kept for use is a new one: one that existed could be open elsewhere for writing.
    DeleteFileW(request.workCopy.c_str());
    UniqueFile copy(CreateFileW(request.workCopy.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!copy) return false;
    if (follow && request.onOpened) request.onOpened(copy.get());
    std::vector<uint8_t> part(kCopyPart);
    copied = 0;
    for (;;) {
        if (copied > largest) {
            logLine("Copied no further than byte " + std::to_string(copied) + " of " +
                    toUtf8(request.besideProgram) + ": it is larger than it may be");
            break;
        }
        const uint64_t left = largest - copied;
        const DWORD wanted = left < kCopyPart ? static_cast<DWORD>(left) + 1 : kCopyPart;
        DWORD read = 0;
        DWORD written = 0;
        if (!ReadFile(source.get(), part.data(), wanted, &read, nullptr))
            return copyFailed(request, follow, check);
        if (read == 0) break;
        if (!WriteFile(copy.get(), part.data(), read, &written, nullptr) || written != read)
            return copyFailed(request, follow, check);
        copied += read;
        if (!follow) continue;
        check->add(part.data(), read);
        if (request.onChecked && check->blocks()) request.onChecked(check->blocks()->checkedEnd());
    }
    kept = std::move(copy);
    return true;
}

// Downloads the file, each byte checked as it arrives; false, with the outcome set, when it did
// not arrive whole.
bool downloadChecked(const FetchRequest& request, uint64_t largest,
                     std::optional<BoundCheck>& check, std::optional<LockedFile>& file,
                     std::string& failure, Fetched& fetched) {
    if (request.onSource) request.onSource(false);
    // Checked as it arrives, no second pass: the download's own handle, which nothing else
    // could write through, becomes the view that is used.
    UniqueFile kept;
    // What arrived, counted apart from the file's size: a file made at its full size for
    // its reader is no longer as long as what was written.
    uint64_t arrived = 0;
    // The one place the bytes are fed; a restart from the first byte starts every check
    // over, so that no check ever covers bytes of two files.
    const FileDownloader::Arrival arrival{
        [&check, &arrived, &request](const uint8_t* bytes, size_t size) {
            check->add(bytes, size);
            arrived += size;
            const ArrivingBlocks* blocks = check->blocks();
            if (blocks && blocks->failed()) {
                logLine("Refused: INVALID (" + blocks->failure() + ")");
                return false;
            }
            if (request.onChecked && blocks) request.onChecked(blocks->checkedEnd());
            return true;
        },
        [&check, &arrived, &request] {
            if (request.onRestart) request.onRestart();
            check.emplace(request.context, request.binding, request.blocks);
            arrived = 0;
        },
        &kept, request.onOpened};
    // Every source is held to what was signed: a binding's exact size, else the limit.
    DownloadLook look{request.silent, request.userAgent, RetrySchedule{},
                      request.statusSuffix, largest, request.binding != nullptr};
    look.noPrompt = request.noPrompt;
    if (request.tries) look.schedule.triesPerSource = request.tries;
    fetched.download = downloadFileWithProgress(toUtf8(request.workCopy), request.sources,
                                                request.statusText, look, &arrival);
    pumpMessages();
    if (!fetched.download.complete) {
        // What the last source sent cannot be the signed file: as a file that fails its check.
        fetched.outcome = fetched.download.failure == DownloadFailure::WrongFile
                              ? FetchOutcome::InvalidSignature
                              : FetchOutcome::DownloadFailed;
        return false;
    }
    file = LockedFile::adopt(reinterpret_cast<intptr_t>(kept.release()));
    if (file) failure = check->failure(arrived, publisherPublicKey());
    fetched.followed = true;
    return true;
}

}  // namespace

Fetched fetchAndCheck(const FetchRequest& request) {
    Fetched fetched;
    std::optional<LockedFile> file;
    std::string failure = "INVALID (file missing or locked)";
    std::string how;
    std::optional<BoundCheck> check(std::in_place, request.context, request.binding,
                                    request.blocks);
    // With the hooks, the copy is checked part by part as a download is; without them, once
    // whole, its two hashes side by side.
    const bool follow = static_cast<bool>(request.onOpened);
    const uint64_t largest = request.binding ? request.binding->size : request.largest;
    UniqueFile copy;
    uint64_t copied = 0;
    if (copyBesideProgram(request, largest, follow, check, copy, copied)) {
        if (request.onSource) request.onSource(true);
        // From here on nothing else can change the file: what is checked is what is used.
        file = LockedFile::adopt(reinterpret_cast<intptr_t>(copy.release()));
        if (file && !follow) check->addWhole(file->data(), file->size());
        if (file) failure = check->failure(copied, publisherPublicKey());
        if (follow) how = " (as it was copied)";
        fetched.followed = follow;
    } else {
        if (!request.mayDownload) {
            fetched.outcome = FetchOutcome::Missing;
            return fetched;
        }
        if (!downloadChecked(request, largest, check, file, failure, fetched)) return fetched;
        how = " (as it arrived)";
    }
    logLine(std::string("Signature check ") + request.context + " of " + toUtf8(request.workCopy) +
            how + (request.binding ? " with the size and SHA-256 the settings name" : "") +
            (check->blocks() ? " and those of its blocks" : "") + ": " +
            (failure.empty() ? "valid" : failure));
    if (!failure.empty()) {
        fetched.outcome = FetchOutcome::InvalidSignature;
        return fetched;
    }
    fetched.outcome = FetchOutcome::Checked;
    fetched.file = std::move(*file);
    return fetched;
}

}  // namespace tessaryn
