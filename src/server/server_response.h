// CServerResponse: what a connection thread sends for one request. The
// bytes of the buffer go first; when a file is attached, the whole of it
// follows, sent by the system straight from the file rather than copied into
// the buffer first.
#pragma once

#include <cstdint>
#include <memory>

#include "base/out_buf.h"
#include "platform/file_system.h"

class CServerResponse : public COutBuf {
public:
    // The file's bytes, all CInputFile::Size() of them, are sent after the
    // buffer. Freeing the response closes the file.
    void AttachFile(std::unique_ptr<CInputFile> file) { m_pFile = std::move(file); }
    CInputFile* File() const { return m_pFile.get(); }
    int64_t FileSize() const { return m_pFile ? m_pFile->Size() : 0; }
    // Buffer and file together.
    int64_t TotalLength() const { return GetLength() + FileSize(); }

    void Free() override
    {
        COutBuf::Free();
        m_pFile.reset();
    }

private:
    std::unique_ptr<CInputFile> m_pFile;
};
