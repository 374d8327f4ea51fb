#include "platform/event_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/event_log_file.h"
#include "platform/thread.h"

namespace {

int64_t SteadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The log of this process. Nothing here has a destructor that runs at exit:
// server threads may still log while the process ends, so the file object
// is replaced only by SetEventLogPath and otherwise left to the system.
std::mutex g_eventLogLock;
IEventLogFile* g_pEventLogFile = nullptr;
int64_t g_nEventLogRetryPauseMs = EVENT_LOG_RETRY_PAUSE_MS;
bool g_bEventLogFailed = false;
int64_t g_nEventLogRetryAtMs = 0;

// The date, the process and the text, with the line's end; the length.
size_t ComposeLine(const char* text, char* line, size_t size)
{
    char time[24];
    FormatLocalTimeNow(time, sizeof(time));
    int length = std::snprintf(line, size, "%s [%lu] %s%s", time, static_cast<unsigned long>(CurrentProcessId()),
                               text, EVENT_LOG_LINE_END);
    if (length < 0) return 0;
    return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
}

bool LogFormatted(const char* format, va_list args)
{
    char text[EVENT_LOG_TEXT_MAX_BYTES + 1];
    int formatted = std::vsnprintf(text, sizeof(text), format, args);
    if (formatted < 0) return false;
    size_t length = std::strlen(text);
    if (static_cast<size_t>(formatted) > length) {
        // Cut short: a UTF-8 character that lost its last bytes goes whole.
        size_t end = length;
        while (end > 0 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80) --end;
        if (end > 0) {
            unsigned char lead = static_cast<unsigned char>(text[end - 1]);
            size_t bytes = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (end - 1 + bytes > length) length = end - 1;
        }
        text[length] = '\0';
    }
    // One event is one line, whatever the text holds.
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
    }

    std::lock_guard<std::mutex> hold(g_eventLogLock);
    if (!g_pEventLogFile) return false;
    int64_t now = SteadyNowMs();
    if (g_bEventLogFailed && now < g_nEventLogRetryAtMs) return false;
    char line[EVENT_LOG_TEXT_MAX_BYTES + 64];
    size_t lineLength = ComposeLine(text, line, sizeof(line));
    bool written = lineLength > 0 && g_pEventLogFile->Append(line, lineLength);
    g_bEventLogFailed = !written;
    g_nEventLogRetryAtMs = now + g_nEventLogRetryPauseMs;
    return written;
}

}  // namespace

void SetEventLogPath(const std::string& path) noexcept
{
    SetEventLogPath(path, EVENT_LOG_MAX_BYTES, EVENT_LOG_RETRY_PAUSE_MS);
}

void SetEventLogPath(const std::string& path, int64_t nMaxBytes, int64_t nRetryPauseMs) noexcept
{
    std::unique_ptr<IEventLogFile> file;
    if (!path.empty()) file = MakeEventLogFile(path, nMaxBytes);
    try {
        std::lock_guard<std::mutex> hold(g_eventLogLock);
        delete g_pEventLogFile;
        g_pEventLogFile = file.release();
        g_nEventLogRetryPauseMs = nRetryPauseMs;
        g_bEventLogFailed = false;
    } catch (...) {
        // The lock could not be taken: the earlier log stays.
    }
}

bool LogEvent(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    bool written = false;
    try {
        written = LogFormatted(format, args);
    } catch (...) {
        written = false;
    }
    va_end(args);
    return written;
}

bool CLogRateLimit::Admit(int64_t nowMs, uint32_t* pnSkipped) noexcept
{
    try {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_bAdmittedAny && nowMs - m_nLastAdmittedMs < m_nIntervalMs) {
            if (m_nSkipped < UINT32_MAX) ++m_nSkipped;
            return false;
        }
        if (pnSkipped) *pnSkipped = m_nSkipped;
        m_bAdmittedAny = true;
        m_nLastAdmittedMs = nowMs;
        m_nSkipped = 0;
        return true;
    } catch (...) {
        return false;
    }
}

bool CLogRateLimit::Admit(uint32_t* pnSkipped) noexcept
{
    return Admit(SteadyNowMs(), pnSkipped);
}
