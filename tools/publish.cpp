#include "tools/publish.h"

#include <hydrogen.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "package/bundle.h"
#include "package/locked_file.h"
#include "package/path_text.h"
#include "package/signed_file.h"
#include "system/ascii_text.h"
#include "tools/inspect.h"
#include "tools/key_files.h"
#include "tools/pack.h"
#include "tools/pack_progress.h"
#include "tools/settings_check.h"
#include "tools/sign_exe.h"
#include "tools/signed_output.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tessaryn-publish";

const char* const kMainHelp =
    "Usage: tessaryn-publish COMMAND [OPTIONS]\n"
    "Makes and checks the signed files that the Tessaryn setup downloads.\n"
    "\n"
    "Commands:\n"
    "  keygen     make a signing key pair\n"
    "  pack       pack a folder into a signed package (.pak)\n"
    "  sign       check and sign a setup information file (.dat)\n"
    "  verify     check the signature of a .dat or .pak file\n"
    "  unpack     check a package and extract it into a folder\n"
    "  inspect    list the entries and version of a package (.pak)\n"
    "  sign-exe   sign the setup program (Authenticode, with osslsigncode)\n"
    "  verify-exe check the Authenticode signature of a program\n"
    "\n"
    "Run 'tessaryn-publish COMMAND --help' for the options of a command.\n"
    "Exit codes: 0 success, 1 failure or invalid signature, 2 usage error.\n";

const std::map<std::string, const char*> kCommandHelp = {
    {"keygen",
     "Usage: tessaryn-publish keygen --secret FILE --public FILE [--force]\n"
     "Makes a signing key pair. The secret key (128 hex digits) is written readable by its\n"
     "owner only; an existing secret key file is kept unless --force is given. The public key\n"
     "(64 hex digits) is printed as hex and as a C++ initialiser.\n"},
    {"pack",
     "Usage: tessaryn-publish pack FOLDER --key SECRETFILE -o OUT.pak [--version V] [--level N]\n"
     "                             [--threads N] [--quiet]\n"
     "Packs every folder and file under FOLDER (LZMA, level N from 0 to 9, default 5) into a\n"
     "bundle with the given version (default 1.0) and signs it for the package context.\n"
     "Files are compressed on N threads at once (default: one per core); the package is the\n"
     "same for every N. Progress goes to the error output: a bar on a terminal, a line every\n"
     "few seconds otherwise. --quiet prints nothing but errors.\n"},
    {"sign",
     "Usage: tessaryn-publish sign SETTINGS.json --key SECRETFILE -o OUT.dat\n"
     "Checks the setup information file (types of prod, eula, ver, init, post, www, desk,\n"
     "metric; a usable product name) and signs its exact bytes for the settings context.\n"},
    {"verify",
     "Usage: tessaryn-publish verify FILE --public PUBFILE [--kind dat|pak]\n"
     "Checks the trailing signature of FILE without changing it. The kind is taken from the\n"
     "file's extension unless given. Exit code 0 when valid, 1 when not.\n"},
    {"unpack",
     "Usage: tessaryn-publish unpack FILE.pak --public PUBFILE DEST\n"
     "Checks the package's signature and extracts it into DEST as the setup would.\n"},
    {"inspect",
     "Usage: tessaryn-publish inspect FILE.pak [--public PUBFILE] [--json]\n"
     "Lists the package's version and entries: type, name, packed and unpacked size, ratio.\n"
     "With --public the signature is checked first and nothing is listed when it is invalid.\n"
     "--json prints the listing as a JSON document for scripts.\n"},
    {"sign-exe",
     "Usage: tessaryn-publish sign-exe SETUP.exe --pkcs12 FILE [--password-file F]\n"
     "                                 [--timestamp URL] [-o OUT.exe]\n"
     "Signs the program with the certificate and key of the PKCS#12 FILE (Authenticode,\n"
     "SHA-256) using osslsigncode found on PATH. The password is read from F, never given on\n"
     "a command line. --timestamp adds an RFC 3161 time stamp from URL. Without -o the\n"
     "program is replaced by its signed copy.\n"},
    {"verify-exe",
     "Usage: tessaryn-publish verify-exe PROGRAM.exe [--ca CERTFILE]\n"
     "Checks the program's Authenticode signature with osslsigncode, trusting the certificate\n"
     "authorities of CERTFILE (PEM) when given. Exit code 0 when valid, 1 when not.\n"},
};

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
    if (!file) throw std::runtime_error("cannot read " + pathText(path));
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) throw std::runtime_error("cannot read " + pathText(path));
    return content.str();
}

int keygen(const Arguments& args) {
    expectPositional(args, 0, "no file names besides --secret and --public");
    const fs::path secretPath = pathFromUtf8(required(args, "--secret"));
    const fs::path publicPath = pathFromUtf8(required(args, "--public"));
    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    writeSecretKeyFile(secretPath, lowerHex(pair.sk, sizeof pair.sk) + "\n",
                       args.flags.count("--force") > 0);
    PublicKey publicKey;
    std::copy(std::begin(pair.pk), std::end(pair.pk), publicKey.begin());
    hydro_memzero(&pair, sizeof pair);
    const std::string hex = lowerHex(publicKey.data(), publicKey.size());
    std::ofstream file(publicPath, std::ios::binary | std::ios::trunc);
    file << hex << "\n";
    file.close();
    if (!file) throw std::runtime_error("cannot write " + pathText(publicPath));
    std::cout << "public key: " << hex << "\n" << cppInitialiser(publicKey) << "\n";
    return 0;
}

int pack(const Arguments& args) {
    expectPositional(args, 1, "one FOLDER");
    PackOptions options;
    options.folder = pathFromUtf8(args.positional[0]);
    options.output = pathFromUtf8(required(args, "-o"));
    const fs::path keyPath = pathFromUtf8(required(args, "--key"));
    if (args.values.count("--version")) options.version = args.values.at("--version");
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
    const bool quiet = args.flags.count("--quiet") > 0;
    std::error_code error;
    if (!fs::is_directory(options.folder, error)) {
        throw std::runtime_error("folder not found: " + pathText(options.folder));
    }
    const SecretKey key = readSecretKey(keyPath);
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
    std::cout << "packed " << summary.files << " files and " << summary.directories << " folders, "
              << summary.inputBytes << " bytes into " << summary.outputBytes << " bytes ("
              << ratio << "): " << pathText(options.output) << "\n";
    return 0;
}

int sign(const Arguments& args) {
    expectPositional(args, 1, "one SETTINGS.json");
    const fs::path input = pathFromUtf8(args.positional[0]);
    const fs::path output = pathFromUtf8(required(args, "-o"));
    const SecretKey key = readSecretKey(pathFromUtf8(required(args, "--key")));
    const std::string text = readText(input);
    const std::vector<std::string> problems = settingsProblems(text);
    if (!problems.empty()) {
        for (const std::string& problem : problems) {
            std::cerr << kProgram << ": " << pathText(input) << ": " << problem << "\n";
        }
        return 1;
    }
    SignedOutput out(output, kSettingsContext);
    out.write(text.data(), text.size());
    out.finish(key);
    std::cout << "signed " << text.size() << " bytes: " << pathText(output) << "\n";
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
    const std::optional<LockedFile> view = LockedFile::open(pathText(path));
    if (!view) throw std::runtime_error("cannot read " + pathText(path));
    return verifySignedBytes(view->data(), view->size(), context, key);
}

int verify(const Arguments& args) {
    expectPositional(args, 1, "one FILE");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const std::string context = contextFor(args, file);
    const PublicKey key = readPublicKey(pathFromUtf8(required(args, "--public")));
    if (!signatureValid(file, context, key)) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature\n";
        return 1;
    }
    std::cout << pathText(file) << ": valid signature\n";
    return 0;
}

int unpack(const Arguments& args) {
    expectPositional(args, 2, "FILE.pak and DEST");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const fs::path destination = pathFromUtf8(args.positional[1]);
    const PublicKey key = readPublicKey(pathFromUtf8(required(args, "--public")));
    // As the setup does: one view of the file, checked and then unpacked.
    const std::optional<LockedFile> view = LockedFile::open(pathText(file));
    if (!view) throw std::runtime_error("cannot read " + pathText(file));
    if (!verifySignedBytes(view->data(), view->size(), kPackageContext, key)) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature\n";
        return 1;
    }
    extractBundle(pathText(destination), view->data(), view->size() - kSignatureBytes, {});
    std::cout << "extracted " << pathText(file) << " into " << pathText(destination) << "\n";
    return 0;
}

int inspect(const Arguments& args) {
    expectPositional(args, 1, "one FILE.pak");
    const fs::path file = pathFromUtf8(args.positional[0]);
    const bool checked = args.values.count("--public") > 0;
    std::optional<PublicKey> key;
    if (checked) key = readPublicKey(pathFromUtf8(args.values.at("--public")));
    const std::optional<PackageListing> listing = inspectPackage(file, key ? &*key : nullptr);
    if (!listing) {
        std::cerr << kProgram << ": " << pathText(file) << ": invalid signature, not listing it\n";
        return 1;
    }
    std::cout << (args.flags.count("--json") ? listingJson(*listing, checked)
                                             : listingText(*listing));
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
    if (!result.valid) {
        std::cerr << kProgram << ": " << pathText(file)
                  << ": invalid Authenticode signature (" << result.details << ")\n";
        return 1;
    }
    std::cout << pathText(file) << ": valid Authenticode signature\n";
    return 0;
}

}  // namespace

int runPublish(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << kMainHelp;
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kMainHelp;
        return 0;
    }
    const auto help = kCommandHelp.find(command);
    if (help == kCommandHelp.end()) {
        std::cerr << kProgram << ": unknown command '" << command
                  << "' (try 'tessaryn-publish --help')\n";
        return 2;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        initSignatures();
        Arguments parsed;
        if (command == "keygen") {
            parsed = parse(command, rest, {"--secret", "--public"}, {"--force"});
        } else if (command == "pack") {
            parsed = parse(command, rest, {"--key", "-o", "--version", "--level", "--threads"},
                           {"--quiet"});
        } else if (command == "sign") {
            parsed = parse(command, rest, {"--key", "-o"}, {});
        } else if (command == "verify") {
            parsed = parse(command, rest, {"--public", "--kind"}, {});
        } else if (command == "inspect") {
            parsed = parse(command, rest, {"--public"}, {"--json"});
        } else if (command == "sign-exe") {
            parsed = parse(command, rest, {"--pkcs12", "--password-file", "--timestamp", "-o"}, {});
        } else if (command == "verify-exe") {
            parsed = parse(command, rest, {"--ca"}, {});
        } else {
            parsed = parse(command, rest, {"--public"}, {});
        }
        if (parsed.help) {
            std::cout << help->second;
            return 0;
        }
        if (command == "keygen") return keygen(parsed);
        if (command == "pack") return pack(parsed);
        if (command == "sign") return sign(parsed);
        if (command == "verify") return verify(parsed);
        if (command == "inspect") return inspect(parsed);
        if (command == "sign-exe") return signExeCommand(parsed);
        if (command == "verify-exe") return verifyExeCommand(parsed);
        return unpack(parsed);
    } catch (const UsageError& error) {
        std::cerr << kProgram << " " << command << ": " << error.what() << " (try '" << kProgram
                  << " " << command << " --help')\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << kProgram << " " << command << ": " << error.what() << "\n";
        return 1;
    }
}

}  // namespace tessaryn
