#pragma once
// The files of the installed version that an update keeps: each one the new release names with
// the same size and SHA-256 is copied into the staging folder, read through handles that never
// follow a link, from the same handle that was hashed.
#include <cstdint>
#include <string>
#include <vector>

#include "package/sha256.h"

namespace tessaryn {

struct KeptCandidate {
    std::string name;  // "/"-separated, relative to the install folder (a checked entry name)
    uint64_t size = 0;
    Sha256Digest sha256{};
};

struct KeptFigures {
    size_t kept = 0;
    uint64_t keptBytes = 0;
    uint64_t hashedBytes = 0;
    uint32_t hashMs = 0;
};

// For each candidate, whether the installed copy under `installed` matched and now lies, with
// its folders, under `staging` (both with a trailing backslash). A file is taken only when the
// path to it, from `installed` on, passes no link, and it is a plain file with one name; one that
// differs, is missing or cannot be read is simply not kept (its copy is removed).
std::vector<bool> keepInstalledFiles(const std::wstring& installed, const std::wstring& staging,
                                     const std::vector<KeptCandidate>& candidates,
                                     KeptFigures& figures);

}  // namespace tessaryn
