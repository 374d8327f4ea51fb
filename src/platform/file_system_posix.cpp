#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

bool WriteWholeFile(const std::string& path, const void* data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    bool written = true;
    while (size > 0) {
        ssize_t done = write(fd, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            written = false;
            break;
        }
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    written = written && fdatasync(fd) == 0;
    bool closed = close(fd) == 0;
    if (written && closed) return true;
    unlink(path.c_str());
    return false;
}

const char PATH_SEPARATOR = '/';

std::string GetCurrentDirectoryUtf8()
{
    char path[1000];
    if (!getcwd(path, sizeof(path))) return std::string();
    return path;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

bool PathExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

bool MakeDirectory(const std::string& path)
{
    return mkdir(path.c_str(), 0755) == 0;
}

bool RenameReplacing(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path)
{
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool FileSizeOf(const std::string& path, int64_t* pnSize)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    *pnSize = static_cast<int64_t>(status.st_size);
    return true;
}

bool SetModifiedTime(const std::string& path, int64_t nSeconds)
{
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(nSeconds), 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool FreeDiskBytes(const std::string& path, uint64_t* pnFree)
{
    struct statvfs status {};
    if (statvfs(path.c_str(), &status) != 0) return false;
    *pnFree = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    return true;
}

CInputFile::~CInputFile()
{
    if (m_handle >= 0) close(static_cast<int>(m_handle));
}

bool CInputFile::Open(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return false;
    }
    m_handle = fd;
    m_nSize = static_cast<int64_t>(status.st_size);
    m_path = path;
    return true;
}

bool CInputFile::RemoveIfCut()
{
    struct stat opened {}, named {};
    if (m_handle == -1 || fstat(static_cast<int>(m_handle), &opened) != 0) return false;
    if (opened.st_size >= m_nSize) return false;   // a passing read error: the file is whole
    if (stat(m_path.c_str(), &named) != 0) return false;
    if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) return false;
    return unlink(m_path.c_str()) == 0;
}

bool FlushToDisk(std::FILE* file)
{
    return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0;
}

bool ListFolder(const std::string& folder, const std::function<void(const FolderEntry&)>& visit)
{
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folder.empty() ? "." : folder.c_str()), closedir);
    if (!directory) return false;
    int fd = dirfd(directory.get());
    FolderEntry entry;
    for (;;) {
        // readdir says a failure only through errno.
        errno = 0;
        dirent* found = readdir(directory.get());
        if (!found) return errno == 0;
        struct stat status {};
        if (fstatat(fd, found->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            // Removed since it was listed; any other failure leaves the
            // listing incomplete.
            if (errno == ENOENT) continue;
            return false;
        }
        if (!S_ISREG(status.st_mode)) continue;
        entry.name = found->d_name;
        entry.nSize = static_cast<int64_t>(status.st_size);
        entry.nModified = static_cast<int64_t>(status.st_mtime);
        visit(entry);
    }
}
