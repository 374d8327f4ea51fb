// Between the event log's lines (event_log.cpp) and the platform's file,
// lock and clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Writes the local time now as "YYYY-MM-DD HH:MM:SS.mmm" (23 characters and
// a NUL) into text, which holds at least 24 bytes.
void FormatLocalTimeNow(char* text, size_t size);

// The log file of one path and the lock that every process writing that
// path takes around each line. Used by one thread at a time.
class IEventLogFile {
public:
    virtual ~IEventLogFile() = default;
    // Appends the line (its end included) in one write under the shared
    // lock. When a non-empty file would pass the bound, it is first renamed
    // to "<path>.1", replacing that one, and the line starts a new file; a
    // file that cannot be renamed takes no line, so the bound holds. False
    // when the line was not written; a partly written line is cut off again.
    virtual bool Append(const char* line, size_t length) = 0;
};

// The log at path (UTF-8) with its bound; nothing is opened yet. Null when
// memory runs out.
std::unique_ptr<IEventLogFile> MakeEventLogFile(const std::string& path, int64_t nMaxBytes) noexcept;
