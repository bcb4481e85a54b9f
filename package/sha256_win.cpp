// SHA-256 from the system's CNG (bcrypt.dll, loaded from the system folder only, on first use).
#include "package/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include "system/system_folder_win.h"

namespace tessaryn {

namespace {

using OpenProvider = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseProvider = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using CreateHash = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                     ULONG, ULONG);
using HashData = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using FinishHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using DestroyHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);

// The library stays loaded for the process: hashes may be made on any thread at any time.
struct Cng {
    OpenProvider open = nullptr;
    CloseProvider close = nullptr;
    CreateHash create = nullptr;
    HashData data = nullptr;
    FinishHash finish = nullptr;
    DestroyHash destroy = nullptr;
    bool usable = false;
};

template <typename F>
F entry(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

const Cng& cng() {
    static const Cng loaded = [] {
        Cng functions;
        HMODULE library = loadSystemLibrary(L"bcrypt.dll");
        if (!library) return functions;
        functions.open = entry<OpenProvider>(library, "BCryptOpenAlgorithmProvider");
        functions.close = entry<CloseProvider>(library, "BCryptCloseAlgorithmProvider");
        functions.create = entry<CreateHash>(library, "BCryptCreateHash");
        functions.data = entry<HashData>(library, "BCryptHashData");
        functions.finish = entry<FinishHash>(library, "BCryptFinishHash");
        functions.destroy = entry<DestroyHash>(library, "BCryptDestroyHash");
        functions.usable = functions.open && functions.close && functions.create &&
                           functions.data && functions.finish && functions.destroy;
        return functions;
    }();
    return loaded;
}

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

// Owns the provider and the hash object, released in reverse order.
struct Sha256::State {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = true;

    ~State() {
        if (hash) cng().destroy(hash);
        if (provider) cng().close(provider, 0);
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    const Cng& functions = cng();
    if (!functions.usable) return;
    if (!succeeded(functions.open(&state_->provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        state_->provider = nullptr;
        return;
    }
    // The system allocates the hash object itself (Windows 7 and later).
    if (!succeeded(functions.create(state_->provider, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
        state_->hash = nullptr;
        return;
    }
    state_->failed = false;
}

Sha256::~Sha256() = default;

void Sha256::add(const uint8_t* bytes, size_t size) noexcept {
    // The system takes a ULONG at a time.
    constexpr size_t kPart = 1u << 30;
    while (!state_->failed && size > 0) {
        const ULONG part = static_cast<ULONG>(size < kPart ? size : kPart);
        state_->failed =
            !succeeded(cng().data(state_->hash, const_cast<PUCHAR>(bytes), part, 0));
        bytes += part;
        size -= part;
    }
}

std::optional<Sha256Digest> Sha256::finish() noexcept {
    Sha256Digest digest{};
    if (state_->failed ||
        !succeeded(cng().finish(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    state_->failed = true;  // spent
    return digest;
}

}  // namespace tessaryn
