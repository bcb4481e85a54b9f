#include "tools/pack_progress.h"

#include <algorithm>

namespace tessaryn {

namespace {

constexpr double kMB = 1024.0 * 1024.0;
constexpr double kBarInterval = 0.1;   // seconds between redraws of the bar
constexpr double kLineInterval = 2.0;  // seconds between plain lines
constexpr int kBarWidth = 30;

std::string duration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace

PackProgress::PackProgress(ProgressStyle style, std::FILE* out) : style_(style), out_(out) {}

double PackProgress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string PackProgress::figures(uint64_t done, uint64_t total) const {
    const double elapsed = seconds();
    const double rate = elapsed > 0 ? done / kMB / elapsed : 0;
    char text[96];
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (rate > 0) {
        const double left = (total - done) / kMB / rate;
        std::snprintf(text, sizeof text, "%3d%% %.1f of %.1f MB, %.1f MB/s, %s left", percent,
                      done / kMB, total / kMB, rate, duration(left).c_str());
    } else {
        std::snprintf(text, sizeof text, "%3d%% %.1f of %.1f MB", percent, done / kMB,
                      total / kMB);
    }
    return text;
}

void PackProgress::update(uint64_t done, uint64_t total, const std::string& name) {
    if (style_ == ProgressStyle::Quiet) return;
    total = std::max(total, done);  // a file that grew after it was listed
    const double now = seconds();
    const double interval = style_ == ProgressStyle::Bar ? kBarInterval : kLineInterval;
    if (now - lastShown_ < interval) return;
    lastShown_ = now;
    if (style_ == ProgressStyle::Lines) {
        std::fprintf(out_, "packing: %s\n", figures(done, total).c_str());
    } else {
        const int filled = total == 0 ? kBarWidth : static_cast<int>(done * kBarWidth / total);
        const std::string label = name.size() > 24 ? "..." + name.substr(name.size() - 21) : name;
        // \033[K clears what a longer earlier line left on the right.
        std::fprintf(out_, "\r[%s%s] %s  %s\033[K", std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, ' ').c_str(), figures(done, total).c_str(),
                     label.c_str());
    }
    std::fflush(out_);
}

void PackProgress::finish(uint64_t total) {
    if (style_ == ProgressStyle::Quiet) return;
    const double elapsed = seconds();
    char text[96];
    std::snprintf(text, sizeof text, "100%% %.1f MB in %.1f s, %.1f MB/s", total / kMB, elapsed,
                  elapsed > 0 ? total / kMB / elapsed : 0.0);
    if (style_ == ProgressStyle::Lines) {
        std::fprintf(out_, "packing: %s\n", text);
    } else {
        std::fprintf(out_, "\r[%s] %s\033[K\n", std::string(kBarWidth, '#').c_str(), text);
    }
    std::fflush(out_);
}

}  // namespace tessaryn
