#include "tools/signed_output.h"

#include <stdexcept>
#include <system_error>

#include "package/path_text.h"
#include "package/signature_check.h"
#include "system/system_reason.h"

namespace tessaryn {

SignedOutput::SignedOutput(const std::filesystem::path& path, const std::string& context)
    : path_(path), partPath_(path) {
    if (context.size() != kContextBytes) throw std::runtime_error("bad signing context");
    partPath_ += ".part";
    file_.open(partPath_, std::ios::binary | std::ios::trunc);
    if (!file_) {
        throw std::runtime_error("cannot create " + pathText(partPath_) + ": " + errnoReason());
    }
    hydro_sign_init(&state_, context.data());
}

SignedOutput::~SignedOutput() {
    if (finished_) return;
    file_.close();
    std::error_code ignored;
    std::filesystem::remove(partPath_, ignored);
}

void SignedOutput::write(const void* data, size_t size) {
    if (size == 0) return;
    hydro_sign_update(&state_, data, size);
    file_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file_) {
        throw std::runtime_error("cannot write " + pathText(partPath_) + ": " + errnoReason());
    }
    written_ += size;
}

void SignedOutput::finish(const SecretKey& key) {
    Signature signature{};
    if (hydro_sign_final_create(&state_, signature.data(), key.data()) != 0) {
        throw std::runtime_error("signing failed");
    }
    file_.write(reinterpret_cast<const char*>(signature.data()), signature.size());
    file_.close();
    if (!file_) {
        throw std::runtime_error("cannot write " + pathText(partPath_) + ": " + errnoReason());
    }
    std::error_code error;
    std::filesystem::rename(partPath_, path_, error);
    if (error) {
        throw std::runtime_error("cannot move " + pathText(partPath_) + " to " + pathText(path_) +
                                 ": " + error.message());
    }
    finished_ = true;
}

}  // namespace tessaryn
