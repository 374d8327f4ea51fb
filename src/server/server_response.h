// CServerResponse: what a connection thread sends for one request. The
// bytes of the buffer go first; then, when one is attached, the body: a
// file sent by the system straight from the disk, or a buffer in memory
// that other responses may share.
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
    // The body's bytes are sent after the buffer; the body is only read.
    void AttachBody(SharedOutBuf body) { m_pBody = std::move(body); }

    CInputFile* File() const { return m_pFile.get(); }
    const COutBuf* Body() const { return m_pBody.get(); }
    // What follows the buffer: the file's or the body's length.
    int64_t TailLength() const
    {
        return m_pFile ? m_pFile->Size() : m_pBody ? m_pBody->GetLength() : 0;
    }
    // Buffer and tail together.
    int64_t TotalLength() const { return GetLength() + TailLength(); }

    // The attached file could not be read whole: it is removed, so that the
    // next request of its path counts as a miss and fetches it anew instead
    // of failing in the same place again. Whoever cut it may still hold it
    // for a moment (on Windows an open file without delete sharing cannot
    // be removed), so the removal is tried for up to a second; the
    // connection closes after it.
    void OnFileUnreadable();

    void Free() override
    {
        COutBuf::Free();
        m_pFile.reset();
        m_pBody.reset();
    }

private:
    std::unique_ptr<CInputFile> m_pFile;
    SharedOutBuf m_pBody;
};
