#pragma once
// What pack shows while it works: a bar with speed and time left on a terminal, a plain line
// now and then otherwise, or nothing.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessaryn {

enum class ProgressStyle { Bar, Lines, Quiet };

class PackProgress {
  public:
    PackProgress(ProgressStyle style, std::FILE* out);
    // done and total in bytes of input; name is the entry just packed.
    void update(uint64_t done, uint64_t total, const std::string& name);
    void finish(uint64_t total);

  private:
    double seconds() const;
    std::string figures(uint64_t done, uint64_t total) const;

    ProgressStyle style_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    double lastShown_ = 0;
};

}  // namespace tessaryn
