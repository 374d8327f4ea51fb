// CServerResponse: what a connection thread sends for one request. The
// bytes of the buffer go first; then, when one is attached, the body: a
// file sent by the system straight from the disk, or a buffer in memory
// that other responses may share.
#pragma once

#include <cstdint>
#include <memory>

#include "base/out_buf.h"
#include "platform/file_system.h"
#include "server/resource_cache.h"

class CServerResponse : public COutBuf {
public:
    // The file's bytes, all CInputFile::Size() of them, are sent after the
    // buffer. Freeing the response closes the file.
    void AttachFile(std::unique_ptr<CInputFile> file) { m_pFile = std::move(file); }
    // The body's bytes are sent after the buffer; the body is only read.
    void AttachBody(SharedOutBuf body) { m_pBody = std::move(body); }
    // The store of a fetched body, which the answer does not wait for: it
    // runs when the response is freed, whether it was sent or not.
    void AttachPendingStore(std::unique_ptr<CResourceCache::CPendingStore> store) { m_pStore = std::move(store); }

    CInputFile* File() const { return m_pFile.get(); }
    const COutBuf* Body() const { return m_pBody.get(); }
    // What follows the buffer: the file's or the body's length.
    int64_t TailLength() const
    {
        return m_pFile ? m_pFile->Size() : m_pBody ? m_pBody->GetLength() : 0;
    }
    // Buffer and tail together.
    int64_t TotalLength() const { return GetLength() + TailLength(); }

    void Free() override
    {
        COutBuf::Free();
        m_pFile.reset();
        m_pBody.reset();
        m_pStore.reset();
    }

private:
    std::unique_ptr<CInputFile> m_pFile;
    SharedOutBuf m_pBody;
    std::unique_ptr<CResourceCache::CPendingStore> m_pStore;
};
