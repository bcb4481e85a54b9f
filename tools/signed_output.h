#pragma once
// Writes a signed file: the payload as it is written, then its signature as the last 64 bytes.
// The output appears under its name only when complete.
#include <hydrogen.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/key_files.h"

namespace tessaryn {

class SignedOutput {
  public:
    SignedOutput(const std::filesystem::path& path, const std::string& context);
    SignedOutput(const SignedOutput&) = delete;
    SignedOutput& operator=(const SignedOutput&) = delete;
    ~SignedOutput();  // removes the unfinished file

    void write(const void* data, size_t size);
    uint64_t written() const { return written_; }
    // Appends the signature and moves the file into place. Throws std::runtime_error.
    void finish(const SecretKey& key);

  private:
    std::filesystem::path path_;
    std::filesystem::path partPath_;
    std::ofstream file_;
    hydro_sign_state state_;
    uint64_t written_ = 0;
    bool finished_ = false;
};

}  // namespace tessaryn
