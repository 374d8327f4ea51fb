#include "platform/system_memory.h"

#include <malloc.h>
#include <windows.h>

#include <new>

CPageBlock::CPageBlock(size_t size)
{
    m_pData = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (m_pData) m_nSize = size;
}

CPageBlock::~CPageBlock()
{
    if (m_pData) VirtualFree(m_pData, 0, MEM_RELEASE);
}

void* CSystemPages::do_allocate(size_t nBytes, size_t)
{
    void* block = VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block) throw std::bad_alloc();
    return block;
}

void CSystemPages::do_deallocate(void* p, size_t, size_t)
{
    VirtualFree(p, 0, MEM_RELEASE);
}

void LimitHeapRetention()
{
    // The C runtime's heap gives large blocks back to the system on its own.
}

void ReturnFreeHeapMemory()
{
    // The C runtime's own heap, which malloc and new draw from.
    _heapmin();
}
