#pragma once
// How a run ends: one row per outcome, with its exit code, usage event, message and log name.
// Every road ends through endRun (run_outcome_win.h), so that the code, the event, the box and
// the log line of an outcome cannot drift apart; /? and the README list the same codes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/download_retry.h"
#include "app/ui_text.h"
#include "telemetry/events.h"

namespace tessaryn {

enum class Outcome {
    Finished,
    UninstallCompleted,
    NothingToRemove,
    Declined,
    HostEnded,
    OlderVersion,
    BelowFloor,
    Expired,
    BothScopesInstalled,
    NeedsAdministrator,
    FilesInUse,
    NoNetwork,
    InvalidSignature,
    SettingsMalformed,
    OtherProduct,
    WrongVersion,
    PackageMismatch,
    UnknownSwitch,
    DiskFull,
    InstallInProgress,
    UninstallerForeign,
    UninstallerInfoMissing,
    UninstallIncomplete,
    DownloadFailed,
    InstallFailed,
    Unexpected,
};

// The message box icons (the MB_ICON values), kept here so that the table stays portable.
enum class BoxIcon : uint32_t { None = 0, Error = 0x10, Information = 0x40 };

struct OutcomeRow {
    Outcome outcome;
    int exitCode;
    std::optional<UsageEvent> event;  // sent as the run ends; none for outcomes reported before
    const char* logName;
    // The box's title and text (ids of the text table; "{}" takes the caller's detail).
    // Text::None: no box.
    Text title;
    Text text;
    BoxIcon icon;
    bool supportHint;  // the settings' "help" (else "www") is named, when there is one
    // The line for this code in /? (the first row of a code carries it), Text::None for none.
    Text setupHelp;
    Text uninstallerHelp;
    // What a deployment tool does on this code: winget's ReturnResponse, on the first row of a
    // code; nullptr: not listed in a manifest (the tool's default for a failure).
    const char* wingetResponse = nullptr;
};

const std::vector<OutcomeRow>& outcomeTable();
const OutcomeRow& outcomeRow(Outcome outcome);

// How a run ends: the outcome and the words only the failing step knows.
struct RunEnd {
    Outcome outcome = Outcome::Finished;
    std::string detail;
};

// What endRun does for one end, worked out without touching the system.
struct EndPlan {
    int exitCode = 0;
    std::optional<UsageEvent> event;
    std::string logLine;     // "Outcome: <log name>, exit code N"
    std::string message;     // empty when the outcome has no message
    std::string title;
    bool showBox = false;    // never in a silent run
    uint32_t icon = 0;
};

// `support` is the settings' help or web page; empty before the settings are read. The message
// is in the language of `texts`, the log line in English.
EndPlan planEnd(const RunEnd& end, bool silent, const std::string& support,
                const UiTexts& texts = UiTexts());

// A download's end as the run's: a host that could not be reached (after all its tries) is a
// network a deployment tool waits for; any other failure is the rest.
Outcome downloadOutcome(DownloadFailure failure);

// The "Exit codes:" lines of /?, one per code, in the table's order (English unless given).
std::string exitCodeHelp(bool uninstaller, const UiTexts& texts = UiTexts());

}  // namespace tessaryn
