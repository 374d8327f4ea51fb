#include "platform/system_memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <new>

CPageBlock::CPageBlock(size_t size)
{
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    m_pData = static_cast<char*>(block);
    m_nSize = size;
}

CPageBlock::~CPageBlock()
{
    if (m_pData) munmap(m_pData, m_nSize);
}

void* CSystemPages::do_allocate(size_t nBytes, size_t)
{
    void* block = mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return block;
}

void CSystemPages::do_deallocate(void* p, size_t nBytes, size_t)
{
    munmap(p, nBytes);
}

namespace {

// Blocks from this size up are mapped on their own and unmapped when freed;
// an arena's free top beyond it is given back. Fixing either value ends
// glibc's raising of both after each large block freed.
const int LARGE_BLOCK_BYTES = 1024 * 1024;

}  // namespace

void LimitHeapRetention()
{
    mallopt(M_MMAP_THRESHOLD, LARGE_BLOCK_BYTES);
    mallopt(M_TRIM_THRESHOLD, LARGE_BLOCK_BYTES);
    // One arena for all threads: glibc gives back the free top of the main
    // arena only (malloc_trim included); a thread arena keeps its top, often
    // megabytes, once its last free was a small block. Connection threads
    // allocate little besides bodies, so sharing costs them little.
    mallopt(M_ARENA_MAX, 1);
}

void ReturnFreeHeapMemory()
{
    // Releases the main arena's free top and the whole free pages inside
    // it; with one arena that is the whole heap.
    malloc_trim(0);
}
