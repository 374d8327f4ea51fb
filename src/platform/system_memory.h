// Memory taken from and given back to the system directly, around the
// heap: a connection server that has just held a thousand connections
// should not stay at the size of that burst.
#pragma once

#include <cstddef>
#include <memory_resource>

// A block of whole pages taken straight from the system and given back to it
// when the block goes. For large per-connection areas: a heap would keep
// them resident after a burst of connections has ended.
class CPageBlock {
public:
    explicit CPageBlock(size_t size);
    ~CPageBlock();
    CPageBlock(const CPageBlock&) = delete;
    CPageBlock& operator=(const CPageBlock&) = delete;

    // Null when the system could not give the block.
    char* Data() const { return m_pData; }

private:
    char* m_pData = nullptr;
    size_t m_nSize = 0;
};

// A memory resource whose blocks are whole pages taken straight from the
// system and given back when freed. For a pool of long-lived small objects
// (the cache's account): in the heap they would lie scattered among the
// short-lived blocks of a burst of connections and keep its pages from
// going back to the system. Throws std::bad_alloc when the system has none.
class CSystemPages : public std::pmr::memory_resource {
private:
    void* do_allocate(size_t nBytes, size_t nAlignment) override;
    void do_deallocate(void* p, size_t nBytes, size_t nAlignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

// Sets the heap to give large free blocks back to the system as they are
// freed, rather than keeping up to twice the largest block freed so far in
// every thread arena. Called once, when a server starts.
void LimitHeapRetention();

// Gives the heap's free pages back to the system; called once a burst of
// connections has ended.
void ReturnFreeHeapMemory();
