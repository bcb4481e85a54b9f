#pragma once
// Usage events: the request body, and what the web host's answer asks the program to do.
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaryn {

// The usage events the program reports; the numbers are what the web host counts.
enum class UsageEvent : int32_t {
    PackageDownloadStarted = 0,
    PackageBesideSetup = 1,  // the package was found beside the program, nothing downloaded
    SignatureInvalid = 2,
    InstallFailed = 3,
    DownloadFailed = 4,
    LicenseAccepted = 5,
    LicenseDeclined = 6,
    PreviousVersionRemoval = 7,
    UninstallStarted = 8,
    InstallCompleted = 9,
    UpdaterRun = 10,
};

// The setup's own version: sent in every event and in the User-Agent.
inline constexpr char kSetupVersion[] = "1.1";

// Compact JSON, keys sorted: {"event":N,"nonce":"...","prod":"...","uuid":"..."}; the nonce
// (fresh for every request) is what the host's signed answer is bound to. With a source (0 and
// up: which of the package's addresses served it, 0 the primary) "src":S comes after "prod".
// A non-empty system description ("sys") and version ("ver") go in too: the signature covers
// the body, so the host's rules read these, never the User-Agent. Once the run's install is
// known, "scope" ("user" or "machine") comes after "prod".
std::string metricBody(int32_t event, const std::string& nonce, const std::string& productName,
                       const std::string& machineId, int32_t source = -1,
                       const std::string& system = {}, const std::string& version = {},
                       const char* scope = nullptr);

// The decisions taken from one answer, carried out in this order.
struct AnswerActions {
    std::string openUrl;  // a web address to open; empty for none
    bool showMessage = false;
    std::string message;
    std::string title;
    uint32_t style = 0;  // MessageBox style
    bool exitProcess = false;
};

// Message box styles; each includes MB_TOPMOST | MB_SETFOREGROUND and an OK button.
inline constexpr uint32_t kStyleError = 0x50010;
inline constexpr uint32_t kStyleWarning = 0x50030;
inline constexpr uint32_t kStyleInfo = 0x50040;
inline constexpr uint32_t kStyleQuestion = 0x50020;
inline constexpr uint32_t kStylePlain = 0x50000;

// Reads the host's answer. Anything malformed yields no action; a "url" that is not an http or
// https address is dropped; in a silent run no message is shown.
AnswerActions interpretAnswer(std::string_view answer, bool silent);

}  // namespace tessaryn
