#include "tools/sign_exe.h"

#include <hydrogen.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "package/path_text.h"
#include "system/ascii_text.h"
#include "tools/key_files.h"
#include "tools/run_program.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

// A time-stamp server answers within seconds; this bounds a hung one.
constexpr std::chrono::seconds kSignTimeout{300};
constexpr std::chrono::seconds kVerifyTimeout{120};

fs::path osslsigncode() {
    const fs::path program = findOnPath("osslsigncode");
    if (program.empty()) {
        throw std::runtime_error("osslsigncode not found on PATH (scripts/bootstrap installs it)");
    }
    return program;
}

// The last few non-empty lines, joined by "; ", for a one-line error message.
std::string lastLines(const std::string& output, size_t count) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        for (char& c : line) {
            if (c == '\t' || c == '\r') c = ' ';
        }
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        lines.push_back(line.substr(first, line.find_last_not_of(' ') - first + 1));
    }
    std::string text;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
        if (!text.empty()) text += "; ";
        text += lines[i];
    }
    return text.empty() ? "no output" : text;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

void requireFile(const fs::path& path, const char* what) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        throw std::runtime_error(std::string(what) + " not found: " + pathText(path));
    }
}

}  // namespace

void signExe(const SignExeOptions& options) {
    requireFile(options.input, "setup program");
    requireFile(options.pkcs12, "PKCS#12 file");
    if (!options.passwordFile.empty()) requireFile(options.passwordFile, "password file");
    const std::string& url = options.timestampUrl;
    if (!url.empty() && url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
        throw std::runtime_error("--timestamp must be an http:// or https:// address");
    }
    const fs::path program = osslsigncode();
    const fs::path output = options.output.empty() ? options.input : options.output;
    // osslsigncode writes a new file; it becomes the output only when signing succeeded.
    uint8_t nonce[8];
    hydro_random_buf(nonce, sizeof nonce);
    fs::path part = output;
    part += ".signing-" + lowerHex(nonce, sizeof nonce);
    std::vector<std::string> args = {"sign", "-pkcs12", pathText(options.pkcs12), "-h", "sha256"};
    // The password travels in a file, never on a command line other users can read.
    if (!options.passwordFile.empty()) {
        args.insert(args.end(), {"-readpass", pathText(options.passwordFile)});
    }
    if (!url.empty()) args.insert(args.end(), {"-ts", url});
    args.insert(args.end(), {"-in", pathText(options.input), "-out", pathText(part)});
    struct Remove {
        fs::path path;
        ~Remove() {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } remove{part};
    const ProgramResult result = runProgram(program, args, kSignTimeout);
    if (result.exitCode != 0) {
        // OpenSSL reports a wrong password as a failed integrity check of the PKCS#12 file.
        if (contains(result.output, "mac verify failure") ||
            contains(result.output, "Wrong password")) {
            if (options.passwordFile.empty()) {
                throw std::runtime_error(pathText(options.pkcs12) +
                                         " needs a password: give it with --password-file FILE");
            }
            throw std::runtime_error("wrong password: the password in " +
                                     pathText(options.passwordFile) + " does not open " +
                                     pathText(options.pkcs12));
        }
        throw std::runtime_error("osslsigncode could not sign " + pathText(options.input) + ": " +
                                 lastLines(result.output, 3));
    }
    std::error_code error;
    fs::rename(part, output, error);
    if (error) throw std::runtime_error("cannot write " + pathText(output) + ": " + error.message());
}

VerifyExeResult verifyExe(const fs::path& exe, const fs::path& caFile) {
    requireFile(exe, "program");
    std::vector<std::string> args = {"verify", "-in", pathText(exe)};
    if (!caFile.empty()) {
        requireFile(caFile, "certificate file");
        args.insert(args.end(), {"-CAfile", pathText(caFile)});
    }
    const ProgramResult result = runProgram(osslsigncode(), args, kVerifyTimeout);
    VerifyExeResult verdict;
    const std::string& out = result.output;
    if (result.exitCode == 0) {
        verdict.kind = ExeSignature::Valid;
    } else if (contains(out, "No signature found")) {
        verdict.kind = ExeSignature::Missing;
    } else if (contains(out, "MISMATCH")) {
        verdict.kind = ExeSignature::Changed;
    } else if (const size_t at = out.find("Verify error: "); at != std::string::npos) {
        // The digests match; only the certificate chain failed.
        verdict.kind = ExeSignature::Untrusted;
        const size_t from = at + std::string("Verify error: ").size();
        verdict.details = lastLines(out.substr(from, out.find('\n', from) - from), 1);
    } else {
        verdict.details = lastLines(out, 4);
    }
    verdict.valid = verdict.kind == ExeSignature::Valid;
    return verdict;
}

}  // namespace tessaryn
