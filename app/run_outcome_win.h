#pragma once
// The one way a run ends: logged, sent, shown and turned into the exit code.
#include <windows.h>

#include <string>

#include "app/run_outcome.h"

namespace tessaryn {

// Logs the message (also in a silent run, where no box is shown) and the outcome, sends the
// row's event, shows the box (a MessageBoxW owned by `owner`, none when `silent`) and returns
// the exit code for the run to return.
int endRun(const RunEnd& end, bool silent, const std::string& support = {},
           HWND owner = nullptr);

// Ends a run whose download failed, with its cause and where to get help: the release's help or
// web page when known (never the host that just failed, when there is another), else the
// product's web host.
int endWithDownloadFailure(DownloadFailure failure, const std::string& cause, bool silent,
                           const std::string& support);

}  // namespace tessaryn
