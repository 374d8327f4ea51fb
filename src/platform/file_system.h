// Whole-file writes that never leave a partial file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Creates or replaces the file at path (UTF-8) with exactly size bytes, and
// has them on the disk before it returns, so that a later move of the file
// never stands for a file without its bytes after a power cut. When the file
// cannot be created, written whole, flushed or closed, any partial file is
// removed and the result is false.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// The separator of the system's paths: "\" on Windows, "/" elsewhere.
extern const char PATH_SEPARATOR;

// The process's current directory as UTF-8 (on POSIX, its bytes as they
// are); empty when unreadable or longer than 999 bytes.
std::string GetCurrentDirectoryUtf8();

// Opens path (UTF-8) as a stdio stream with fopen's mode; null when it
// cannot. On Windows through the wide call, so that any folder name works
// whatever the system's code page.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Pushes what a stream has buffered to its file, and the file's data to the
// disk; false when either fails.
bool FlushToDisk(std::FILE* file);

// The path operations of the resource cache. Paths are UTF-8; Windows
// takes them through its wide calls.
bool PathExists(const std::string& path);
bool MakeDirectory(const std::string& path);
// Renames from over to, replacing a file of that name in one step, so that a
// reader sees either the old file or the whole new one.
bool RenameReplacing(const std::string& from, const std::string& to);
// True when no file of that name is left: removed, or not there. On Windows
// a file that another program holds open without delete sharing stays.
bool RemoveFile(const std::string& path);
// The size of the regular file at path; false when there is none.
bool FileSizeOf(const std::string& path, int64_t* pnSize);
// Sets the file's modification time (seconds since 1970-01-01 UTC); false
// when it cannot be set.
bool SetModifiedTime(const std::string& path, int64_t nSeconds);
// The bytes this user may still write on the drive (file system) of path.
bool FreeDiskBytes(const std::string& path, uint64_t* pnFree);

// One regular file of a folder.
struct FolderEntry {
    std::string name;
    int64_t nSize = 0;
    int64_t nModified = 0;   // seconds since 1970-01-01 UTC
};

// Calls visit for every regular file directly in folder (with or without a
// trailing separator; names in UTF-8), in no particular order. False when the
// folder cannot be read or the listing stopped before its end (a read
// error, no descriptor left): the files visited are then not all there are.
bool ListFolder(const std::string& folder, const std::function<void(const FolderEntry&)>& visit);

// A file opened for sending whole. Its size is read once, at opening: cache
// files are replaced by renaming, never rewritten in place, so the bytes
// sent afterwards are the ones of that size, and a response header can name
// the length before the body is sent straight from the file. Others may
// delete or replace the file while it is open.
class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile();
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // Opens path and reads its size; false when it cannot.
    bool Open(const std::string& path);
    int64_t Size() const { return m_nSize; }
    // The path it was opened by.
    const std::string& Path() const { return m_path; }
    // The descriptor (POSIX) or HANDLE (Windows), for sending the file
    // straight to a socket.
    intptr_t NativeHandle() const { return m_handle; }
    // A read of the file failed: removes it, only when it is shorter than
    // at opening and its name still holds this very file (not a copy stored
    // since). True when it was removed. On Windows a file that another
    // program holds without delete sharing is tried for up to a second; one
    // already pending deletion is left to go.
    bool RemoveIfCut();

private:
    intptr_t m_handle = -1;
    int64_t m_nSize = 0;
    std::string m_path;
};
