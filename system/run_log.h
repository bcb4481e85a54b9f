#pragma once
// The run's log ("/LOG"): one timestamped UTF-8 line per step, for support desks. Logging never
// changes what the run does: every call is safe without a log and swallows its own failures.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessaryn {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Lines longer than this (before the time stamp) are cut, so that a hostile answer or message
// cannot fill the disk one line at a time.
inline constexpr size_t kMaxLogTextBytes = 2048;

// "yyyy-mm-dd hh:mm:ss.mmm  " + text + "\r\n". Line breaks in the text become "\n" (two
// characters), other control characters "?"; a text over the bound is cut at a character
// boundary and ends in " [...]".
std::string formatLogLine(const LocalTime& time, std::string_view text);

// "<product> Setup Log yyyy-mm-dd #NNN.txt", NNN from 001.
std::string defaultLogFileName(std::string_view productName, const LocalTime& date, int number);
// The same name as the help text shows it: "<product> Setup Log <date> #NNN.txt".
std::string logFileNameShape(std::string_view productName);

// The clock of the log lines (local time).
LocalTime localTimeNow();

// Where the lines go: returns false when a write failed, which ends the log. Set once at start;
// an empty writer ends logging. Tests set a writer of their own.
using LogWriter = std::function<bool(std::string_view line)>;
void setLogWriter(LogWriter writer);

// True while a log is open.
bool logActive() noexcept;

// Writes one line; several threads may log at once. Does nothing without a log.
void logLine(std::string_view text) noexcept;

}  // namespace tessaryn
