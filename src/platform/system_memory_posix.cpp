#include "platform/system_memory.h"

#include <malloc.h>
#include <sys/mman.h>

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

void ReturnFreeHeapMemory()
{
    // Walks every arena, not only the main one, and releases whole free
    // pages inside them as well as at their tops.
    malloc_trim(0);
}
