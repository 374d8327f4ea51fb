#include "server/resource_cache.h"

#include "base/out_buf.h"
#include "net/download_client.h"
#include "net/md5.h"
#include "platform/file_system.h"

namespace {

// Only a path that starts with "/" is appended to the upstream base: any
// other text would run into the address's host part ("@host/..." would send
// the request to another host, with the configured one as a user name).
bool IsFetchablePath(const std::string& path)
{
    if (path.empty() || path[0] != '/') return false;
    for (unsigned char c : path) {
        if (c <= 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace

int MakeDirs(const std::string& path)
{
    if (path.empty()) return 0;
    std::string copy = path;
    for (size_t i = 0; i < copy.size(); ++i) {
        if (copy[i] != '\\' && copy[i] != '/') continue;
        std::string prefix = copy.substr(0, i);
        // The file system's root and a bare drive ("C:") need no creation.
        bool isRoot = prefix.empty() || (prefix.size() == 2 && prefix[1] == ':');
        if (!isRoot && !PathExists(prefix) && !MakeDirectory(prefix)) return -1;
        copy[i] = '/';
    }
    return MakeDirectory(copy) ? 0 : -1;
}

void CResourceCache::Configure(const std::string& root, const std::string& upstreamBase)
{
    m_root = root;
    m_upstreamBase = upstreamBase;
}

std::string CResourceCache::FilePath(const std::string& path) const
{
    return m_root + Md5Hex(path.data(), static_cast<uint32_t>(path.size()));
}

bool CResourceCache::OpenCached(const std::string& path, CInputFile* pFile) const
{
    return pFile->Open(FilePath(path));
}

void CResourceCache::Obtain(const std::string& path, COutBuf* body)
{
    std::string file = FilePath(path);
    if (!IsFetchablePath(path)) return;

    std::shared_ptr<Fetch> fetch;
    bool leader = false;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        auto found = m_fetches.find(path);
        if (found == m_fetches.end()) {
            fetch = std::make_shared<Fetch>();
            m_fetches[path] = fetch;
            leader = true;
        } else {
            fetch = found->second;
            ++fetch->nWaiting;
            m_fetchDone.wait(lock, [&] { return fetch->bDone; });
        }
    }
    if (!leader) {
        if (!fetch->body.empty()) body->Write(fetch->body.data(), static_cast<int32_t>(fetch->body.size()));
        return;
    }

    // The file may have been stored since the first look, by a fetch that
    // ended before this one was registered.
    if (!body->LoadFromFile(file.c_str())) FetchAndStore(path, file, body);

    std::lock_guard<std::mutex> lock(m_lock);
    if (fetch->nWaiting > 0 && body->GetLength() > 0) {
        fetch->body.assign(body->GetData(), body->GetData() + body->GetLength());
    }
    fetch->bDone = true;
    m_fetches.erase(path);
    m_fetchDone.notify_all();
}

void CResourceCache::FetchAndStore(const std::string& path, const std::string& file, COutBuf* body)
{
    std::string url = m_upstreamBase + path;
    int status = 0;
    int code = FetchToBuffer(url.c_str(), file.c_str(), body, &status);
    if (code != FETCH_OK || status != 200) return;

    std::string temporary;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        temporary = file + ".part" + std::to_string(++m_nTempCounter);
    }
    if (body->SaveToFile(temporary.c_str()) && RenameReplacing(temporary, file)) return;
    RemoveFile(temporary);
}
