#include "tools/publish.h"

#include <hydrogen.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "package/bundle.h"
#include "package/locked_file.h"
#include "package/path_text.h"
#include "package/signature_check.h"
#include "system/ascii_text.h"
#include "tools/index_build.h"
#include "tools/inspect.h"
#include "tools/key_files.h"
#include "tools/pack.h"
#include "tools/pack_progress.h"
#include "tools/package_terms.h"
#include "tools/release_sign.h"
#include "tools/settings_check.h"
#include "tools/sign_exe.h"
#include "tools/signed_output.h"
#include "system/system_reason.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tessaryn-publish";

#ifndef TESSARYN_PRODUCT_NAME
#define TESSARYN_PRODUCT_NAME "Tessaryn"
#endif
// The product this tool's build was configured for: pack's default main program.
constexpr const char* kBuildProduct = TESSARYN_PRODUCT_NAME;

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    bool help = false;
};

// Options taking a value and plain switches known to each command.
Arguments parse(const std::string& command, const std::vector<std::string>& args,
                const std::vector<std::string>& valueOptions,
                const std::vector<std::string>& switches) {
    Arguments parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (std::find(valueOptions.begin(), valueOptions.end(), arg) != valueOptions.end()) {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            // The later of two would win unseen: one of them is a mistake.
            if (parsed.values.count(arg)) throw UsageError(arg + " is given twice");
            parsed.values[arg] = args[++i];
        } else if (std::find(switches.begin(), switches.end(), arg) != switches.end()) {
            parsed.flags[arg] = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg + " for " + command);
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

const std::string& required(const Arguments& args, const std::string& option) {
    const auto it = args.values.find(option);
    if (it == args.values.end()) throw UsageError(option + " is required");
    return it->second;
}

void expectPositional(const Arguments& args, size_t count, const char* what) {
    if (args.positional.size() != count) throw UsageError(std::string("expected ") + what);
}

std::string readText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    }
    return content.str();
}

// One file under two names (another spelling of its path, a link, a hard link: the same device
// and inode), or one path not yet made.
bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path x = fs::weakly_canonical(a, error);
    if (error) return false;
    return x == fs::weakly_canonical(b, error) && !error;
}

// An output written over one of its inputs would destroy the input it is made from.
void refuseOutputOverInputs(const fs::path& output, const std::vector<fs::path>& inputs) {
    for (const fs::path& input : inputs) {
        if (sameFile(output, input))
            throw UsageError("the output " + pathText(output) + " is the input " +
                             pathText(input) + "; write it elsewhere");
    }
}

int keygen(const Arguments& args) {
    expectPositional(args, 0, "no file names besides --secret and --public");
    const fs::path secretPath = pathFromUtf8(required(args, "--secret"));
    const fs::path publicPath = pathFromUtf8(required(args, "--public"));
    refuseOutputOverInputs(publicPath, {secretPath});
    const KeyKind kind = args.flags.count("--answers") ? KeyKind::Answers : KeyKind::Release;
    makeOwnerOnlyFolders(secretPath.parent_path());
    makeOwnerOnlyFolders(publicPath.parent_path());
    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    writeSecretKeyFile(secretPath,
                       secretKeyHeading(kind) + "\n" + lowerHex(pair.sk, sizeof pair.sk) + "\n",
                       args.flags.count("--force") > 0);
    PublicKey publicKey;
    std::copy(std::begin(pair.pk), std::end(pair.pk), publicKey.begin());
    hydro_memzero(&pair, sizeof pair);
    const std::string hex = lowerHex(publicKey.data(), publicKey.size());
    std::ofstream file(publicPath, std::ios::binary | std::ios::trunc);
    file << hex << "\n";
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + pathText(publicPath) + ": " + errnoReason());
    }
    std::cout << "public key: " << hex << "\n" << cppInitialiser(publicKey) << "\n"
              << (kind == KeyKind::Answers ? "answers" : "release")
              << " secret key written to " << pathText(secretPath) << " (keep it private)\n"
              << "public key written to " << pathText(publicPath) << "\n";
    if (kind == KeyKind::Answers)
        std::cout << "answers key: give the secret half to the web host (--answers-key), build "
                     "the setup with -DTESSARYN_ANSWERS_PUBLIC_KEY_FILE="
                  << pathText(publicPath) << "\n";
    return 0;
}

// The setup starts <product in lower case>.exe from the top of the installed folder.
bool holdsMainProgram(const fs::path& folder, const std::string& product) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (lowerCaseAscii(pathText(entry.path().filename())) == lowerCaseAscii(product) + ".exe" &&
            entry.is_regular_file(error))
            return true;
    }
    return false;
}

int pack(const Arguments& args) {
    expectPositional(args, 1, "one FOLDER");
    PackOptions options;
    options.folder = pathFromUtf8(args.positional[0]);
    options.output = pathFromUtf8(required(args, "-o"));
    const fs::path keyPath = pathFromUtf8(required(args, "--key"));
    const bool quiet = args.flags.count("--quiet") > 0;
    const bool defaultVersion = args.values.count("--version") == 0;
    if (!defaultVersion) options.version = args.values.at("--version");
    if (args.values.count("--level")) {
        const std::string& level = args.values.at("--level");
        if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
            throw UsageError("--level must be a number from 0 to 9");
        }
        options.level = level[0] - '0';
    }
    if (args.values.count("--threads")) {
        const std::string& threads = args.values.at("--threads");
        if (threads.empty() || threads.size() > 3 ||
            threads.find_first_not_of("0123456789") != std::string::npos || std::stoi(threads) < 1) {
            throw UsageError("--threads must be a number from 1 to 999");
        }
        options.threads = static_cast<unsigned>(std::stoi(threads));
    }
    refuseOutputOverInputs(options.output, {keyPath});
    std::error_code error;
    if (!fs::is_directory(options.folder, error)) {
        throw std::runtime_error("folder not found: " + pathText(options.folder));
    }
    const std::string product =
        args.values.count("--product") ? args.values.at("--product") : kBuildProduct;
    if (!args.flags.count("--allow-no-main") && !holdsMainProgram(options.folder, product)) {
        throw std::runtime_error(pathText(options.folder) + " has no main program " +
                                 lowerCaseAscii(product) + ".exe of the product " + product +
                                 " (--product NAME for another product, --allow-no-main to "
                                 "pack it anyway)");
    }
    const SecretKey key = readSecretKey(keyPath, KeyKind::Release);
    if (defaultVersion && !quiet) {
        // A package labelled by default is easy to ship by mistake; say which label it got.
        std::cerr << kProgram << " pack: no --version given, so the package is labelled "
                  << options.version << "\n";
    }
    PackProgress progress(quiet               ? ProgressStyle::Quiet
                          : stderrIsTerminal() ? ProgressStyle::Bar
                                               : ProgressStyle::Lines,
                          stderr);
    options.progress = [&progress](uint64_t done, uint64_t total, const std::string& name) {
        progress.update(done, total, name);
    };
    const PackSummary summary = packFolder(options, key);
    progress.finish(summary.inputBytes);
    if (quiet) return 0;
    char ratio[32] = "no input";
    if (summary.inputBytes > 0) {
        std::snprintf(ratio, sizeof ratio, "%.1f%% of the input",
                      100.0 * summary.outputBytes / summary.inputBytes);
    }
    const auto count = [](size_t number, const char* word) {
        return std::to_string(number) + " " + word + (number == 1 ? "" : "s");
    };
    std::cout << "packed " << count(summary.files, "file") << " and "
              << count(summary.directories, "folder") << ", "
              << summary.inputBytes << " bytes into " << summary.outputBytes << " bytes ("
              << ratio << "): " << pathText(options.output) << "\n";
    return 0;
}

// The product name in the setup program's version information: the UTF-16 string after the key
// "ProductName" and its padding.
std::string setupProductName(const fs::path& setup) {
    const std::string bytes = readText(setup);
    static const std::u16string key = u"ProductName";
    std::string pattern;
    for (char16_t c : key) pattern += {static_cast<char>(c), '\0'};
    pattern += std::string(2, '\0');
    const size_t at = bytes.find(pattern);
    if (at == std::string::npos)
        throw std::runtime_error(pathText(setup) + " has no product name in its version "
                                 "information: is it the setup program?");
    size_t pos = at + pattern.size();
    while (pos + 1 < bytes.size() && bytes[pos] == 0 && bytes[pos + 1] == 0) pos += 2;
    std::string name;
    for (; pos + 1 < bytes.size() && (bytes[pos] || bytes[pos + 1]); pos += 2) {
        if (bytes[pos + 1] != 0 || static_cast<unsigned char>(bytes[pos]) >= 0x80)
            throw std::runtime_error(pathText(setup) + ": its product name is not plain ASCII");
        name += bytes[pos];
    }
    return name;
}

// The product that --product or --setup names; empty when neither is given.
std::string expectedProduct(const Arguments& args) {
    if (args.values.count("--product") && args.values.count("--setup"))
        throw UsageError("--product and --setup exclude each other");
    if (args.values.count("--product")) return args.values.at("--product");
    if (args.values.count("--setup")) return setupProductName(pathFromUtf8(args.values.at("--setup")));
    return {};
}

// The setup takes settings only for the product it was built for, and says so only in its log.
std::string productProblem(const std::string& settingsText, const std::string& expected) {
    if (expected.empty()) return {};
    const nlohmann::json root = nlohmann::json::parse(settingsText, nullptr, false);
    const auto it = root.is_object() ? root.find("prod") : root.end();
    const std::string* name = it != root.end() ? it->get_ptr<const std::string*>() : nullptr;
    if (name && *name == expected) return {};
    return "\"prod\" is " + (name ? "\"" + *name + "\"" : std::string("not a name")) +
           ", but the setup is built for the product \"" + expected +
           "\" and would refuse these settings";
}

// Names a public key in signed settings: its first 16 hex digits, as keygen prints it.
std::string fingerprint(const PublicKey& key) {
    return lowerHex(key.data(), key.size()).substr(0, 16);
}

int64_t now() {
    return static_cast<int64_t>(std::time(nullptr));
}

uint64_t blockSizeOption(const Arguments& args) {
    if (!args.values.count("--block-size")) return kDefaultBlock;
    const std::string& given = args.values.at("--block-size");
    if (given.empty() || given.size() > 9 ||
        given.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(given) < kSmallestBlock || std::stoull(given) > kLargestBlock)
        throw UsageError("--block-size must be a number from 65536 to 67108864");
    return std::stoull(given);
}

// The settings with the package's file index written in. An index they carry already must be
// the one this package has (one edited, or made for another package, is refused), and a package
// that cannot have one gets none: its updates download it whole.
std::string withPackageIndex(const std::string& text, const LockedFile& view,
                             std::vector<std::string>& problems, std::string& note) {
    const BuiltIndex built = buildFileIndex(view.data(), view.size());
    const nlohmann::json root = nlohmann::json::parse(text);
    if (const auto carried = root.find("index"); carried != root.end()) {
        const std::optional<FileIndex> read = readFileIndex(*carried, {view.size(), {}});
        const std::string why =
            !read          ? "is malformed"
            : !built.index ? "cannot be made for this package: " + built.whyNone
                           : indexDisagreement(*read, *built.index, view.data(), view.size());
        if (!why.empty()) {
            problems.push_back(std::string("\"index\" ") +
                               (read && built.index ? "disagrees with the package: " : "") + why);
            return text;
        }
    }
    const std::string written = withFileIndex(text, built.index);
    note = built.index ? indexSummaryText(*built.index) + ", " +
                             std::to_string(written.size() - withFileIndex(text, {}).size()) +
                             " bytes of the settings"
                       : "no index: " + built.whyNone + " (its updates download it whole)";
    return written;
}

int sign(const Arguments& args) {
    expectPositional(args, 1, "one SETTINGS.json");
    const fs::path input = pathFromUtf8(args.positional[0]);
    const fs::path output = pathFromUtf8(required(args, "-o"));
    const fs::path package = pathFromUtf8(required(args, "--package"));
    const int64_t signedAt = now();
    const bool noExpiry = args.flags.count("--no-expiry") > 0;
    std::optional<std::string> expires;
    std::string expiryNote;
    std::string indexNote;
    if (args.values.count("--expires")) {
        if (noExpiry) throw UsageError("--expires and --no-expiry exclude each other");
        try {
            expires = expiryFromOption(args.values.at("--expires"), signedAt);
        } catch (const std::invalid_argument& error) {
            throw UsageError(error.what());
        }
    }
    const uint64_t blockSize = blockSizeOption(args);
    const fs::path keyPath = pathFromUtf8(required(args, "--key"));
    refuseOutputOverInputs(output, {input, package, keyPath});
    const std::string product = expectedProduct(args);
    const SecretKey key = readSecretKey(keyPath, KeyKind::Release);
    std::string text = readText(input);
    const bool allowUnknown = args.flags.count("--allow-unknown") > 0;
    SettingsFindings findings = checkSettings(text, allowUnknown);
    if (findings.problems.empty())
        if (std::string why = productProblem(text, product); !why.empty())
            findings.problems.push_back(why);
    for (const std::string& note : findings.notes) {
        std::cerr << kProgram << ": " << pathText(input) << ": " << note << "\n";
    }
    // One view of the package: the bytes checked are the bytes the settings bind.
    std::optional<LockedFile> view;
    // The secret key's second half is its public key.
    PublicKey publicKey;
    std::copy(key.begin() + kPublicKeyBytes, key.end(), publicKey.begin());
    if (findings.problems.empty()) {
        view = LockedFile::open(pathText(package));
        if (!view) throw std::runtime_error("cannot read " + pathText(package));
        findings.problems = packageProblems(text, *view, package, publicKey);
    }
    if (findings.problems.empty() && !expires && !noExpiry) {
        // Settings that never expire can be served for ever: a time is written unless refused.
        expires = settingsExpiry(text);
        expiryNote = " (from the settings; --expires to choose, --no-expiry for none)";
        if (expires && parseUtcTime(*expires) <= signedAt)
            findings.problems.push_back("\"expires\" " + *expires + " is not in the future");
        if (!expires) {
            expires = formatUtcTime(signedAt + kDefaultExpiryDays * 86400);
            expiryNote = " (" + std::to_string(kDefaultExpiryDays) +
                         " days; --expires to choose, --no-expiry for none)";
        }
    }
    if (findings.problems.empty()) {
        const PackageTerms terms = packageTerms(view->data(), view->size(), blockSize);
        text = withBlockMap(bindSettings(text, terms.package, expires, fingerprint(publicKey)),
                            terms.blocks);
        text = withPackageIndex(text, *view, findings.problems, indexNote);
        if (findings.problems.empty())
            findings.problems = checkSettings(text, allowUnknown).problems;
    }
    if (!findings.problems.empty()) {
        for (const std::string& problem : findings.problems) {
            std::cerr << kProgram << ": " << pathText(input) << ": " << problem << "\n";
        }
        return 1;
    }
    SignedOutput out(output, kSettingsContext);
    out.write(text.data(), text.size());
    out.finish(key);
    std::cout << "signed " << text.size() << " bytes: " << pathText(output) << "\n"
              << (expires ? "expires " + *expires + expiryNote : "never expires (--no-expiry)")
              << "\n"
              << indexNote << "\n";
    return 0;
}

std::string contextFor(const Arguments& args, const fs::path& file) {
    std::string kind;
    if (args.values.count("--kind")) {
        kind = args.values.at("--kind");
    } else {
        kind = pathText(file.extension());
        if (!kind.empty()) kind.erase(0, 1);
        kind = lowerCaseAscii(kind);
        if (kind != "dat" && kind != "pak") {
            throw UsageError("cannot tell the kind of " + pathText(file) +
                             " from its name; give --kind dat or --kind pak");
        }
    }
    if (kind == "dat") return kSettingsContext;
    if (kind == "pak") return kPackageContext;
    throw UsageError("--kind must be dat or pak");
}

// Checks the file where it lies, through one read-only view (with the fastest hashing this
// processor has, as the setup does).
bool signatureValid(const fs::path& path, const std::string& context, const PublicKey& key) {
    int code = 0;
    const std::optional<LockedFile> view = LockedFile::open(pathText(path), &code);
    if (!view) {
        throw std::runtime_error("cannot read " + pathText(path) + ": " + systemReason(code));
    }
    return verifySignedBytes(view->data(), view->size(), context, key);
}

// The settings text of a signed .dat (its signature not checked here).
std::string settingsPayload(const fs::path& file) {
    std::string text = readText(file);
    if (text.size() < kSignatureBytes) throw std::runtime_error(pathText(file) + " is too short");
    text.resize(text.size() - kSignatureBytes);
    return text;
}

// Prints the binding of a settings file and, with a package, whether the pair holds; as JSON
// ({"lines": [...], "index": {...} or null}) for scripts.
bool reportPair(const fs::path& settings, const fs::path& package, bool json = false) {
    const PairReport report = pairReport(settingsPayload(settings), package, now());
    if (json) std::cout << nlohmann::json{{"lines", report.lines}, {"index", report.index}} << "\n";
    for (const std::string& line : json ? std::vector<std::string>() : report.lines)
        std::cout << pathText(settings) << ": " << line << "\n";
    for (const std::string& problem : report.problems)
        std::cerr << kProgram << ": " << pathText(settings) << ": " << problem << "\n";
    return report.problems.empty();
}

// Settings signed by sign name their key: one named but not given was signed with another key,
// the one given was changed after signing. Without a name the two cannot be told apart.
std::string whyInvalid(const fs::path& file, const PublicKey& key) {
    const std::string text = readText(file);
    if (text.size() < kSignatureBytes) return "";
    const nlohmann::json root =
        nlohmann::json::parse(text.substr(0, text.size() - kSignatureBytes), nullptr, false);
    const auto it = root.is_object() ? root.find("signer") : root.end();
    const std::string* signer = it != root.end() ? it->get_ptr<const std::string*>() : nullptr;
    if (!signer) return "";
    if (*signer == fingerprint(key)) return ": changed after it was signed with this key";
    return ": signed with another key (the settings name the key " + *signer +
           "..., --public is " + fingerprint(key) + "...)";
}

int verify(const Arguments& args) {
    expectPositional(args, 1, "one FILE");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const bool pair = args.values.count("--package") > 0;
    const std::string context = pair ? kSettingsContext : contextFor(args, file);
    const PublicKey key = readPublicKey(pathFromUtf8(required(args, "--public")));
    const std::string product = expectedProduct(args);
    if (!signatureValid(file, context, key)) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature"
                  << (context == kSettingsContext ? whyInvalid(file, key) : "") << "\n";
        return 1;
    }
    std::cout << pathText(file) << ": valid signature\n";
    if (context == kSettingsContext) {
        if (const std::string why = productProblem(settingsPayload(file), product); !why.empty()) {
            std::cerr << kProgram << ": " << pathText(file) << ": " << why << "\n";
            return 1;
        }
    }
    if (!pair) return 0;
    const fs::path package = pathFromUtf8(args.values.at("--package"));
    if (!signatureValid(package, kPackageContext, key)) {
        std::cerr << kProgram << ": " << pathText(package) << ": invalid signature\n";
        return 1;
    }
    std::cout << pathText(package) << ": valid signature\n";
    if (!reportPair(file, package)) return 1;
    std::cout << pathText(file) << " and " << pathText(package) << ": one release\n";
    return 0;
}

int unpack(const Arguments& args) {
    expectPositional(args, 2, "FILE.pak and DEST");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const fs::path destination = pathFromUtf8(args.positional[1]);
    const PublicKey key = readPublicKey(pathFromUtf8(required(args, "--public")));
    // As the setup does: one view of the file, checked and then unpacked.
    int code = 0;
    const std::optional<LockedFile> view = LockedFile::open(pathText(file), &code);
    if (!view) {
        throw std::runtime_error("cannot read " + pathText(file) + ": " + systemReason(code));
    }
    if (!verifySignedBytes(view->data(), view->size(), kPackageContext, key)) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature\n";
        return 1;
    }
    const UnpackResult unpacked =
        extractBundle(pathText(destination), view->data(), view->size() - kSignatureBytes, {});
    if (!unpacked.isDone()) throw std::runtime_error(unpacked.text());
    std::cout << "extracted " << pathText(file) << " into " << pathText(destination) << "\n";
    return 0;
}

int inspect(const Arguments& args) {
    expectPositional(args, 1, "one FILE.pak or FILE.dat");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const bool checked = args.values.count("--public") > 0;
    const bool settings = lowerCaseAscii(pathText(file.extension())) == ".dat";
    std::optional<PublicKey> key;
    if (checked) key = readPublicKey(pathFromUtf8(args.values.at("--public")));
    if (settings) {
        if (key && !signatureValid(file, kSettingsContext, *key)) {
            std::cerr << kProgram << ": " << pathText(file)
                      << ": invalid signature, not listing it\n";
            return 1;
        }
        return reportPair(file, {}, args.flags.count("--json") > 0) ? 0 : 1;
    }
    const std::optional<PackageListing> listing = inspectPackage(file, key ? &*key : nullptr);
    if (!listing) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature, not listing it\n";
        return 1;
    }
    std::cout << (args.flags.count("--json")
                      ? listingJson(*listing, checked)
                      : listingText(*listing, checked ? args.values.at("--public") : ""));
    return 0;
}

int signExeCommand(const Arguments& args) {
    expectPositional(args, 1, "one SETUP.exe");
    SignExeOptions options;
    options.input = pathFromUtf8(args.positional[0]);
    options.pkcs12 = pathFromUtf8(required(args, "--pkcs12"));
    if (args.values.count("-o")) options.output = pathFromUtf8(args.values.at("-o"));
    if (args.values.count("--password-file")) {
        options.passwordFile = pathFromUtf8(args.values.at("--password-file"));
    }
    if (args.values.count("--timestamp")) options.timestampUrl = args.values.at("--timestamp");
    if (!options.output.empty())
        refuseOutputOverInputs(options.output, {options.pkcs12, options.passwordFile});
    signExe(options);
    const fs::path output = options.output.empty() ? options.input : options.output;
    std::cout << "signed " << pathText(output) << "\n";
    return 0;
}

int verifyExeCommand(const Arguments& args) {
    expectPositional(args, 1, "one PROGRAM.exe");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const fs::path ca = args.values.count("--ca") ? pathFromUtf8(args.values.at("--ca")) : fs::path();
    const VerifyExeResult result = verifyExe(file, ca);
    std::string why;
    switch (result.kind) {
        case ExeSignature::Valid:
            break;
        case ExeSignature::Missing:
            why = "no Authenticode signature";
            break;
        case ExeSignature::Changed:
            why = "invalid Authenticode signature: the program was changed after it was signed";
            break;
        case ExeSignature::Untrusted:
            why = "the signature is intact, but its certificate is not trusted here (" +
                  result.details + "); " +
                  (ca.empty() ? "give the publisher's CA certificate with --ca FILE"
                              : "it does not lead to a certificate in " + pathText(ca));
            break;
        case ExeSignature::Invalid:
            why = "invalid Authenticode signature (" + result.details + ")";
            break;
    }
    if (!why.empty()) {
        std::cerr << kProgram << ": " << pathText(file) << ": " << why << "\n";
        return 1;
    }
    std::cout << pathText(file) << ": valid Authenticode signature\n";
    return 0;
}

// The setup with its two files beside it, under the names the setup looks for there.
int offline(const Arguments& args) {
    expectPositional(args, 1, "one SETUP.exe");
    const fs::path setup = pathFromUtf8(args.positional[0]);
    const fs::path settings = pathFromUtf8(required(args, "--settings"));
    const fs::path package = pathFromUtf8(required(args, "--package"));
    const fs::path folder = pathFromUtf8(required(args, "-o"));
    const std::string product = setupProductName(setup);
    // The setup's own rule: a prefix only for names longer than two characters.
    const std::string prefix = product.size() > 2 ? product + "-" : "";
    const std::vector<std::pair<fs::path, fs::path>> copies = {
        {setup, folder / setup.filename()},
        {settings, folder / pathFromUtf8(prefix + "setup.dat")},
        {package, folder / pathFromUtf8(prefix + "setup.pak")}};
    for (const auto& [from, to] : copies) refuseOutputOverInputs(to, {setup, settings, package});
    if (const std::string why = productProblem(settingsPayload(settings), product); !why.empty())
        throw std::runtime_error(pathText(settings) + ": " + why);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw std::runtime_error("cannot create " + pathText(folder) + ": " + error.message());
    for (const auto& [from, to] : copies) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
        if (error)
            throw std::runtime_error("cannot copy " + pathText(from) + " to " + pathText(to) +
                                     ": " + error.message());
        std::cout << "wrote " << pathText(to) << "\n";
    }
    return 0;
}

// One row per command: its name, its line in the overview, its --help text, the options that
// take a value, the plain switches, and the handler. The overview, the option parser and the
// dispatch all read this table, so a command exists in all of them or in none.
struct Command {
    const char* name;
    const char* summary;
    const char* help;
    std::vector<std::string> valueOptions;
    std::vector<std::string> switches;
    int (*run)(const Arguments&);
};

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"keygen", "make a signing key pair (releases, or the host's answers)",
         "Usage: tessaryn-publish keygen --secret FILE --public FILE [--force] [--answers]\n"
         "Makes a signing key pair. The secret key (128 hex digits after a line naming its kind,\n"
         "release or answers) is written readable by its owner only; an existing secret key file\n"
         "is kept unless --force is given. The public key (64 hex digits) is printed as hex and\n"
         "as a C++ initialiser, then the paths of both files.\n"
         "--answers: the pair that signs the web host's answers to events (the host holds the\n"
         "secret half, the setup is built with -DTESSARYN_ANSWERS_PUBLIC_KEY_FILE=the public\n"
         "one); keep it apart from the key that signs releases.\n",
         {"--secret", "--public"}, {"--force", "--answers"}, keygen},
        {"pack", "pack a folder into a signed package (.pak)",
         "Usage: tessaryn-publish pack FOLDER --key SECRETFILE -o OUT.pak [--version V]\n"
         "                             [--level N] [--threads N] [--quiet]\n"
         "                             [--product NAME] [--allow-no-main]\n"
         "FOLDER must hold the main program <NAME in lower case>.exe at its top (NAME: the\n"
         "product this tool was built for, " TESSARYN_PRODUCT_NAME "), unless --allow-no-main.\n"
         "Packs every folder and file under FOLDER (LZMA, level N from 0 to 9, default 5) into a\n"
         "bundle with the given version (default 1.0) and signs it for the package context.\n"
         "Files are compressed on N threads at once (default: one per core); the package is the\n"
         "same for every N. Progress goes to the error output: a bar on a terminal, a line every\n"
         "few seconds otherwise. --quiet prints nothing but errors.\n",
         {"--key", "-o", "--version", "--level", "--threads", "--product"},
         {"--quiet", "--allow-no-main"}, pack},
        {"sign", "check and sign a setup information file (.dat) bound to its package",
         "Usage: tessaryn-publish sign SETTINGS.json --key SECRETFILE --package FILE.pak\n"
         "                             -o OUT.dat [--expires 30d|DATE | --no-expiry]\n"
         "                             [--allow-unknown] [--block-size BYTES]\n"
         "                             [--product NAME | --setup SETUP.exe]\n"
         "Checks the setup information file (prod and ver present, a usable product name, the\n"
         "types of the keys the setup reads) and the package (signed with this key, of the\n"
         "version \"ver\", holding the main program <prod in lower case>.exe), writes the\n"
         "package's size and SHA-256 into \"package\", the SHA-256 of each of its blocks into\n"
         "\"blocks\" (--block-size, default 4194304, 65536 to 67108864), and signs the result\n"
         "for the settings context. --expires: the settings' end, as days from now (30d), a date (2027-06-30,\n"
         "its end in UTC) or a UTC time (2027-06-30T12:00:00Z); the setup refuses them after it.\n"
         "Without it, an \"expires\" of the settings is kept, else they expire 90 days from now;\n"
         "--no-expiry writes none (such settings can be served for ever).\n"
         "A key the setup does not read is refused as a likely misspelling, unless\n"
         "--allow-unknown is given. Mirrors the setup would ignore are refused.\n"
         "--product, or --setup with the product read from the setup program: refuse settings\n"
         "whose \"prod\" is another product (the setup would refuse them).\n",
         {"--key", "-o", "--package", "--expires", "--block-size", "--product", "--setup"},
         {"--allow-unknown", "--no-expiry"}, sign},
        {"verify", "check the signature of a .dat or .pak file, or a .dat with its .pak",
         "Usage: tessaryn-publish verify FILE --public PUBFILE [--kind dat|pak]\n"
         "                               [--package FILE.pak]\n"
         "                               [--product NAME | --setup SETUP.exe]\n"
         "Checks the trailing signature of FILE without changing it. The kind is taken from the\n"
         "file's extension unless given. With --package, FILE is settings (.dat) and the pair is\n"
         "checked as the setup checks it: both signatures, the size and SHA-256 the settings\n"
         "name, the version, and the settings' expiry. --product or --setup: settings for\n"
         "another product are refused as the setup refuses them. Exit code 0 when valid, 1 when\n"
         "not.\n",
         {"--public", "--kind", "--package", "--product", "--setup"}, {}, verify},
        {"unpack", "check a package and extract it into a folder",
         "Usage: tessaryn-publish unpack FILE.pak --public PUBFILE DEST\n"
         "Checks the package's signature and extracts it into DEST as the setup would.\n",
         {"--public"}, {}, unpack},
        {"inspect", "list a package (.pak), or show the package settings (.dat) name",
         "Usage: tessaryn-publish inspect FILE.pak|FILE.dat [--public PUBFILE] [--json]\n"
         "Lists the package's version and entries: type, name, packed and unpacked size, ratio.\n"
         "For settings (.dat): the product, version, package (size, SHA-256) and expiry they\n"
         "name.\n"
         "With --public the signature is checked first and nothing is listed when it is invalid;\n"
         "without it the listing says that the signature was not checked.\n"
         "--json prints the listing as a JSON document for scripts.\n",
         {"--public"}, {"--json"}, inspect},
        {"sign-exe", "sign the setup program (Authenticode, with osslsigncode)",
         "Usage: tessaryn-publish sign-exe SETUP.exe --pkcs12 FILE [--password-file F]\n"
         "                                 [--timestamp URL] [-o OUT.exe]\n"
         "Signs the program with the certificate and key of the PKCS#12 FILE (Authenticode,\n"
         "SHA-256) using osslsigncode found on PATH. The password is read from F, never given on\n"
         "a command line. --timestamp adds an RFC 3161 time stamp from URL. Without -o the\n"
         "program is replaced by its signed copy.\n",
         {"--pkcs12", "--password-file", "--timestamp", "-o"}, {}, signExeCommand},
        {"verify-exe", "check the Authenticode signature of a program",
         "Usage: tessaryn-publish verify-exe PROGRAM.exe [--ca CERTFILE]\n"
         "Checks the program's Authenticode signature with osslsigncode, trusting the certificate\n"
         "authorities of CERTFILE (PEM) when given. Exit code 0 when valid, 1 when not.\n",
         {"--ca"}, {}, verifyExeCommand},
        {"offline", "put the setup and its two files into a folder for a machine without network",
         "Usage: tessaryn-publish offline SETUP.exe --settings FILE.dat --package FILE.pak\n"
         "                                -o FOLDER\n"
         "Copies the setup program into FOLDER with the settings and the package beside it,\n"
         "named <product>-setup.dat and <product>-setup.pak after the product in the setup's\n"
         "version information, the names under which the setup takes them without a web host.\n"
         "Settings for another product are refused.\n",
         {"--settings", "--package", "-o"}, {}, offline},
    };
    return table;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

std::string mainHelp() {
    std::string text =
        "Usage: tessaryn-publish COMMAND [OPTIONS]\n"
        "Makes and checks the signed files that the Tessaryn setup downloads.\n"
        "\n"
        "Commands:\n";
    for (const Command& command : commands()) {
        std::string name = command.name;
        name.resize(std::max<size_t>(name.size(), 10), ' ');
        text += "  " + name + " " + command.summary + "\n";
    }
    text +=
        "\n"
        "Run 'tessaryn-publish COMMAND --help' for the options of a command.\n"
        "Exit codes: 0 success, 1 failure or invalid signature, 2 usage error.\n";
    return text;
}

}  // namespace

int runPublish(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << mainHelp();
        return 2;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << mainHelp();
        return 0;
    }
    const Command* command = findCommand(name);
    if (command == nullptr) {
        std::cerr << kProgram << ": unknown command '" << name << "'\n" << mainHelp();
        return 2;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        initSignatures();
        const Arguments parsed = parse(name, rest, command->valueOptions, command->switches);
        if (parsed.help) {
            std::cout << command->help;
            return 0;
        }
        return command->run(parsed);
    } catch (const UsageError& error) {
        std::cerr << kProgram << " " << name << ": " << error.what() << " (try '" << kProgram
                  << " " << name << " --help')\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << kProgram << " " << name << ": " << error.what() << "\n";
        return 1;
    }
}

}  // namespace tessaryn
