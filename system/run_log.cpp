#include "system/run_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace tessaryn {
namespace {

std::mutex logMutex;
LogWriter logWriter;  // guarded by logMutex
std::atomic<bool> logOpen{false};

// The length of the longest prefix of at most `limit` bytes that does not split a UTF-8 sequence.
size_t cutAtCharacter(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text.size();
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace

std::string formatLogLine(const LocalTime& time, std::string_view text) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d  ", time.year,
                  time.month, time.day, time.hour, time.minute, time.second, time.millisecond);
    const size_t kept = cutAtCharacter(text, kMaxLogTextBytes);
    std::string line = stamp;
    line.reserve(line.size() + kept + 8);
    for (char c : text.substr(0, kept)) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            continue;
        } else if ((c >= 0 && c < 0x20) || c == 0x7F) {
            line += '?';
        } else {
            line += c;
        }
    }
    if (kept < text.size()) line += " [...]";
    line += "\r\n";
    return line;
}

namespace {

std::string logFileName(std::string_view productName, std::string_view date,
                        std::string_view number) {
    return std::string(productName) + " Setup Log " + std::string(date) + " #" +
           std::string(number) + ".txt";
}

}  // namespace

std::string defaultLogFileName(std::string_view productName, const LocalTime& date, int number) {
    char day[32];
    char count[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", date.year, date.month, date.day);
    std::snprintf(count, sizeof count, "%03d", number);
    return logFileName(productName, day, count);
}

std::string logFileNameShape(std::string_view productName) {
    return logFileName(productName, "<date>", "NNN");
}

void setLogWriter(LogWriter writer) {
    std::lock_guard<std::mutex> lock(logMutex);
    logWriter = std::move(writer);
    logOpen = static_cast<bool>(logWriter);
}

bool logActive() noexcept {
    return logOpen;
}

void logLine(std::string_view text) noexcept {
    if (!logOpen) return;
    try {
        const std::string line = formatLogLine(localTimeNow(), text);
        std::lock_guard<std::mutex> lock(logMutex);
        if (!logWriter) return;
        if (!logWriter(line)) {
            // A log that cannot be written is given up, not retried on every step.
            logWriter = nullptr;
            logOpen = false;
        }
    } catch (...) {
    }
}

}  // namespace tessaryn
