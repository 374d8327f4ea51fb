#include "platform/event_log.h"
#include "platform/event_log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

const char EVENT_LOG_LINE_END[] = "\n";

namespace {

// Tries at opening and locking the file that holds the log's name; each
// try that loses the name to another process's rollover goes round again.
const int LOCK_TRIES = 4;
// Rollovers one line may need before it is dropped: another process may fill
// the new file between this one's rename and its next lock.
const int ROLLOVER_TRIES = 3;

// The lock is flock() on the log file itself. A descriptor opened before
// another process's rollover then refers to "<path>.1", and locking that
// file excludes nobody who writes the new one; so once the lock is held, the
// file is compared (device and inode) with the one the name holds now, and
// on a difference the descriptor is closed and the name opened again. Every
// size check, rename and write happens while holding the lock on the file
// that is the log at that moment, so they never overlap between processes.
// The descriptor stays open between lines; flock() belongs to the open file
// description, so the in-process lock of event_log.cpp keeps threads apart,
// and a child made by fork() opens its own.
class CPosixEventLogFile : public IEventLogFile {
public:
    CPosixEventLogFile(const std::string& path, int64_t nMaxBytes)
        : m_path(path), m_earlierPath(path + ".1"), m_nMaxBytes(nMaxBytes)
    {
    }
    ~CPosixEventLogFile() override { Close(); }

    bool Append(const char* line, size_t length) override
    {
        for (int rollover = 0; rollover <= ROLLOVER_TRIES; ++rollover) {
            struct stat opened {};
            if (!LockNamedFile(&opened)) return false;
            int64_t size = static_cast<int64_t>(opened.st_size);
            if (size > 0 && size + static_cast<int64_t>(length) > m_nMaxBytes) {
                // Renaming replaces the earlier file in one step; the new
                // log is created by whichever process writes next.
                bool renamed = std::rename(m_path.c_str(), m_earlierPath.c_str()) == 0;
                Close();
                if (!renamed) return false;
                continue;
            }
            bool written = WriteOnce(line, length);
            // A line cut short (a full disk) is taken off again, so the
            // next line still starts a line of its own.
            if (!written && ftruncate(m_fd, static_cast<off_t>(size)) != 0) Close();
            if (m_fd >= 0) flock(m_fd, LOCK_UN);
            return written;
        }
        return false;
    }

private:
    // Opens the log when needed and locks it, making sure the locked file is
    // still the one named m_path; *pOpened gets its status.
    bool LockNamedFile(struct stat* pOpened)
    {
        if (m_fd >= 0 && m_nOpenedBy != getpid()) Close();
        for (int attempt = 0; attempt < LOCK_TRIES; ++attempt) {
            if (m_fd < 0) {
                m_fd = open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
                if (m_fd < 0) return false;
                m_nOpenedBy = getpid();
            }
            int locked;
            do {
                locked = flock(m_fd, LOCK_EX);
            } while (locked != 0 && errno == EINTR);
            struct stat named {};
            if (locked != 0 || fstat(m_fd, pOpened) != 0 || !S_ISREG(pOpened->st_mode)) {
                Close();
                return false;
            }
            if (stat(m_path.c_str(), &named) == 0 && named.st_dev == pOpened->st_dev &&
                named.st_ino == pOpened->st_ino) {
                return true;
            }
            Close();
        }
        return false;
    }

    bool WriteOnce(const char* line, size_t length)
    {
        ssize_t done;
        do {
            done = write(m_fd, line, length);
        } while (done < 0 && errno == EINTR);
        return done == static_cast<ssize_t>(length);
    }

    // Closing the descriptor also releases its lock.
    void Close()
    {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }

    const std::string m_path;
    const std::string m_earlierPath;
    const int64_t m_nMaxBytes;
    int m_fd = -1;
    pid_t m_nOpenedBy = 0;
};

}  // namespace

void FormatLocalTimeNow(char* text, size_t size)
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    struct tm local {};
    localtime_r(&seconds, &local);
    std::snprintf(text, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
}

std::unique_ptr<IEventLogFile> MakeEventLogFile(const std::string& path, int64_t nMaxBytes) noexcept
{
    try {
        return std::unique_ptr<IEventLogFile>(new CPosixEventLogFile(path, nMaxBytes));
    } catch (...) {
        return nullptr;
    }
}
