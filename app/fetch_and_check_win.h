#pragma once
// The one step both signed files go through: take the copy beside the program, else download
// it, then check its signature over the bytes that will be used. The roads decide what each
// outcome means (messages, events, exit codes).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "package/block_map.h"
#include "package/locked_file.h"
#include "package/release_rules.h"

namespace tessaryn {

enum class FetchOutcome {
    Checked,           // `file` holds the checked bytes, locked until it is released
    Missing,           // no copy beside the program, and downloading was not asked for
    DownloadFailed,
    InvalidSignature,  // includes a fetched file that could not be opened, and one whose size
                       // or hash differ from the binding it was asked to match
};

struct FetchRequest {
    std::wstring besideProgram;  // the offline copy
    std::wstring workCopy;       // where the file is copied or downloaded to
    std::vector<std::string> sources;  // the primary address, then its mirrors
    std::string statusText;      // shown while downloading
    const char* context = nullptr;
    bool mayDownload = true;
    // Told where the file comes from: after the copy (true), or before the download (false).
    std::function<void(bool besideProgram)> onSource;
    // When given, the whole file (signature included) must have exactly this size and SHA-256,
    // hashed in the same pass as the signature check.
    const PackageBinding* binding = nullptr;
    // With a binding: the hashes of the file's blocks, each checked as its last byte arrives.
    const BlockMap* blocks = nullptr;
    // The hooks of a download, on its thread, or of a copy from beside the program (made part
    // by part when they are given): the file's handle once made (opened for reading too, with
    // read sharing only), the end of the bytes whose blocks have checked after each part, and a
    // restart from the first byte (told before the file is cut back or made again).
    std::function<void(HANDLE)> onOpened = nullptr;
    std::function<void(uint64_t checkedEnd)> onChecked = nullptr;
    std::function<void()> onRestart = nullptr;
    std::function<std::string()> statusSuffix = nullptr;  // see DownloadLook
    // The most bytes copied from beside the program without a binding (with one, its size).
    uint64_t largest = TESSARYN_MAX_DOWNLOAD_BYTES;
    int tries = 0;  // of each source when downloading; 0: the download's own number
    bool silent = false;    // the download's window stays hidden
    bool noPrompt = false;  // no question (a proxy's sign-in), also with the window shown
    std::string userAgent = {};  // of the run
};

struct Fetched {
    FetchOutcome outcome = FetchOutcome::InvalidSignature;
    LockedFile file;  // whole file: payload, then its 64-byte signature
    FileDownloader::FetchResult download;  // how a download went (source, failure and cause)
    // Every byte of the file went by the hooks of the request: a whole download, or a copy made
    // part by part. Else nothing that followed them is of this file.
    bool followed = false;
};

Fetched fetchAndCheck(const FetchRequest& request);

}  // namespace tessaryn
