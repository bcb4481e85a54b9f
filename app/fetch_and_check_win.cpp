#include "app/fetch_and_check_win.h"

#include <windows.h>

#include "app/setup_state.h"

#include "package/download_job_win.h"
#include "package/public_key.h"
#include "package/signed_file.h"
#include "system/handles_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

Fetched fetchAndCheck(const FetchRequest& request) {
    Fetched fetched;
    if (::CopyFileW(request.besideProgram.c_str(), request.workCopy.c_str(), FALSE)) {
        if (request.onSource) request.onSource(true);
    } else {
        if (!request.mayDownload) {
            fetched.outcome = FetchOutcome::Missing;
            return fetched;
        }
        if (request.onSource) request.onSource(false);
        const SetupState& state = setupState();
        const bool arrived = downloadFileWithProgress(toUtf8(request.workCopy), request.url,
                                                      request.statusText,
                                                      {state.verySilent, state.userAgent});
        pumpMessages();
        if (!arrived) {
            fetched.outcome = FetchOutcome::DownloadFailed;
            return fetched;
        }
    }
    // From here on nothing else can change the file: what is checked is what is used.
    std::optional<LockedFile> file = LockedFile::open(toUtf8(request.workCopy));
    const bool valid = file && verifySignedBytes(file->data(), file->size(), request.context,
                                                 publisherPublicKey());
    logLine(std::string("Signature check ") + request.context + " of " + toUtf8(request.workCopy) + ": " +
            (valid ? "valid" : file ? "INVALID" : "INVALID (file missing or locked)"));
    if (!valid) {
        fetched.outcome = FetchOutcome::InvalidSignature;
        return fetched;
    }
    fetched.outcome = FetchOutcome::Checked;
    fetched.file = std::move(*file);
    return fetched;
}

}  // namespace tessaryn
