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

// How a run ends: the outcome and the values only the failing step knows.
struct RunEnd {
    RunEnd() = default;
    RunEnd(Outcome outcome, std::string detail) : outcome(outcome), detail(std::move(detail)) {}
    // An end told by a text of its own, with its values.
    static RunEnd told(Outcome outcome, Text text, std::vector<std::string> values = {}) {
        RunEnd end;
        end.outcome = outcome;
        end.text = text;
        end.values = std::move(values);
        return end;
    }

    Outcome outcome = Outcome::Finished;
    std::string detail;  // what the text's "{}" becomes
    // The outcome's own text for this end, when its row's does not fit (Text::None: the row's).
    Text text = Text::None;
    // What the text's "{1}", "{2}", ... become; when given, `detail` is not used.
    std::vector<std::string> values;
};

// The ends whose message needs more than one value, worked out from the figures and names as
// the failing step knows them; each message is a text of its own in every language.
RunEnd olderVersionEnd(const std::string& product, const std::string& installed,
                       const std::string& offered);
// `field`: the entry of the settings that does not read; empty when "package" is missing.
RunEnd malformedSettingsEnd(const std::string& field);
RunEnd wrongVersionEnd(const std::string& named, const std::string& asked);
// The package's version (none when it has none) against the settings' version.
RunEnd packageVersionEnd(const std::optional<std::string>& held, const std::string& named);
// `disagreement`: the index's check of the package, as it tells it.
RunEnd packageIndexEnd(const std::string& disagreement);
RunEnd bothScopesEnd(const std::string& product, const std::string& userFolder,
                     const std::string& machineFolder);
// Why the run has no administrator rights: the account cannot have them, the prompt was
// refused (error 0) or starting elevated failed with `error`.
enum class ElevationRefusal { Impossible, Refused, Failed };
RunEnd needsAdministratorEnd(ElevationRefusal why, unsigned long error = 0);
// The sizes in bytes; the message gives them in MB (needed rounded up, free down).
RunEnd diskFullEnd(const std::string& folder, const std::string& product, uint64_t needed,
                   uint64_t available);
// `holders`: the names of the programs that hold the files, as far as they are known; a list
// longer than `named` ends in "...".
RunEnd filesInUseEnd(const std::string& folder, const std::vector<std::string>& holders,
                     size_t named = 3);
// The install road's own steps that can fail, each naming the folder it worked on.
enum class InstallStep {
    LinkedFolder,
    Staging,
    Unpack,
    Move,
    Uninstaller,
    UninstallInfo,
    Access,
    Register
};
// `reason`: the lower layer's or the system's words, shown as they are (may be empty).
RunEnd installFailedEnd(InstallStep step, const std::string& folder,
                        const std::string& reason = {});
RunEnd unexpectedEnd(const std::string& what);

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
