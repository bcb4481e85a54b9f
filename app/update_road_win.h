#pragma once
// The update road: with a version installed and a signed file index, the staging folder is
// filled from the installed files that match the index and from the package's other entries,
// fetched as byte ranges and each checked against its signed digest before it is decoded.
#include <string>
#include <vector>

#include "package/file_index.h"
#include "package/unpack_result.h"
#include "ui/progress_window_win.h"

namespace tessaryn {

struct UpdateRequest {
    const FileIndex* index = nullptr;
    uint64_t packageSize = 0;  // signed
    std::wstring installed;    // the installed version's folder, with a trailing backslash
    std::wstring staging;      // with a trailing backslash
    std::wstring workDir;      // the run's private folder, for the fetched entries' bytes
    std::vector<std::string> sources;  // the package's address, then its mirrors
    std::string userAgent;
};

// Done with every file of the index in the staging folder, checked; else Failed with the reason
// to fetch the whole package instead (what is in the staging folder is then to be discarded).
// Runs on a worker thread: reports into the window without waiting for it.
UnpackResult updateIntoStaging(const UpdateRequest& request, ProgressWindow& window);

}  // namespace tessaryn
