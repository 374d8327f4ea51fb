// The program's event log: one line per event in a text file of bounded
// size beside the program, shared by every process of that folder, and a
// rate limiter for events that can come in floods.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// A line that would take the log past this many bytes first moves it to
// "<path>.1" (replacing the earlier one), and a new log begins.
const int64_t EVENT_LOG_MAX_BYTES = 1 << 20;
// The text of one event is cut to this many bytes (at the start of a UTF-8
// character), so that a line always fits a fixed buffer.
const size_t EVENT_LOG_TEXT_MAX_BYTES = 2048;
// After a line cannot be written, lines are dropped unseen for this long
// before the file is tried again.
const int64_t EVENT_LOG_RETRY_PAUSE_MS = 1000;

// The compiler checks LogEvent's arguments against its format. mingw-w64
// formats by the C99 rules (%zu, %llu), which its compilers call gnu_printf.
#if defined(__MINGW32__)
#define EVENT_LOG_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define EVENT_LOG_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif

// How each line ends: "\r\n" on Windows, "\n" elsewhere.
extern const char EVENT_LOG_LINE_END[];

// Sends the lines of this process to path (UTF-8) from now on; an empty path
// sends them nowhere. Nothing is opened here: a file that cannot be opened or
// written only drops lines. Call once at start, before any thread logs.
void SetEventLogPath(const std::string& path) noexcept;
// The same with another bound and retry pause, for tests.
void SetEventLogPath(const std::string& path, int64_t nMaxBytes, int64_t nRetryPauseMs) noexcept;

// Appends one line: "YYYY-MM-DD HH:MM:SS.mmm [pid] text", in local time,
// with text formatted by printf rules, each CR and LF of it replaced by a
// space. The size check, any rollover and the write happen under a lock
// shared with the other processes writing the same log, and the line is one
// write, so lines of several processes never mix. Thread-safe. A line that
// cannot be written is dropped (false, for tests; callers need not look),
// and lines go unwritten for EVENT_LOG_RETRY_PAUSE_MS before the file is
// tried again. False before SetEventLogPath.
bool LogEvent(const char* format, ...) noexcept EVENT_LOG_FORMAT(1, 2);

// Lets at most one event an interval (a second unless told) through and
// counts the ones it holds back, for events that can come in floods, such as
// failed fetches. Thread-safe. The caller logs an admitted event with the
// count, when not 0, as "(N similar lines left out)".
class CLogRateLimit {
public:
    explicit CLogRateLimit(int64_t nIntervalMs = 1000) : m_nIntervalMs(nIntervalMs) {}
    CLogRateLimit(const CLogRateLimit&) = delete;
    CLogRateLimit& operator=(const CLogRateLimit&) = delete;

    // True for the first event and then for the first one an interval or
    // more after the last admitted one, at nowMs of a clock that never goes
    // back. When admitted, *pnSkipped (if given) is the number of events held
    // back since the last admitted one.
    bool Admit(int64_t nowMs, uint32_t* pnSkipped) noexcept;
    // The same at the present time of the steady clock.
    bool Admit(uint32_t* pnSkipped) noexcept;

private:
    const int64_t m_nIntervalMs;
    std::mutex m_lock;
    bool m_bAdmittedAny = false;
    int64_t m_nLastAdmittedMs = 0;
    uint32_t m_nSkipped = 0;
};
