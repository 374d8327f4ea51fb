// COutBuf: the growable byte buffer of the local server. It is each
// connection's response buffer, the body of each response and the sink of
// upstream fetches.
#pragma once

#include <cstdint>
#include <memory>

// Appends bytes, growing its storage linearly in steps of the growth step
// (256 unless changed). A buffer belongs to one thread at a time and is never
// copied. Every operation that fails leaves the buffer as it was.
class COutBuf {
public:
    static constexpr int32_t DEFAULT_GROW_BY = 256;

    COutBuf() = default;
    virtual ~COutBuf();
    COutBuf(const COutBuf&) = delete;
    COutBuf& operator=(const COutBuf&) = delete;

    // Releases the storage; length and capacity become 0.
    virtual void Free();
    // The stored bytes; null while nothing is stored.
    virtual uint8_t* GetData();
    virtual const uint8_t* GetData() const;
    virtual int32_t GetLength() const;
    virtual bool IsEmpty() const;
    virtual bool PutByte(uint8_t value);
    // Appends the 4 bytes of value in little-endian order.
    virtual bool PutInt32(int32_t value);
    // Puts a zero byte after the data without counting it and returns the
    // storage; null only when the storage cannot be grown for the zero.
    virtual char* GetCString();
    // Appends text without its terminator.
    virtual bool PutString(const char* text);
    // Appends count bytes. False, with nothing changed, when count is
    // negative, when the length would pass INT32_MAX or when memory runs out.
    virtual bool Write(const void* data, int32_t count);
    // Formats with printf rules and appends the result, whatever its length.
    virtual bool Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Replaces the contents with the whole file. An empty file succeeds and
    // changes nothing; a missing, unreadable or short-read file fails.
    virtual bool LoadFromFile(const char* path);
    // Writes the contents to the file (created or cut to zero) and waits
    // until they are on the disk. False when the file cannot be opened,
    // written whole, flushed or closed.
    virtual bool SaveToFile(const char* path) const;
    virtual bool Append(const COutBuf& other);
    // Puts count bytes before the contents, moving them within the storage
    // rather than into a second block. Same failures as Write.
    bool Prepend(const void* data, int32_t count);
    // Sets the growth step; values below 1 count as 1.
    virtual void SetGrowBy(int32_t step);
    // Appends zero bytes until the length is a multiple of m (m below 1: none).
    virtual bool PadTo(int32_t m);

    // Grows the storage to hold at least capacity bytes (rounded up to the
    // growth step) without changing the contents, so that a body of known
    // length is received with one allocation.
    bool Reserve(int32_t capacity);
    // Appends count bytes left for the caller to fill and returns where they
    // start, so that a file is read straight into the buffer; null, with
    // nothing changed, when the buffer cannot grow by count (or when count is
    // 0 and nothing is stored).
    uint8_t* Extend(int32_t count);
    int32_t GetCapacity() const { return m_nCapacity; }

private:
    bool GrowTo(int64_t needed);

    int32_t m_nGrowBy = DEFAULT_GROW_BY;
    uint8_t* m_pData = nullptr;
    int32_t m_nLength = 0;
    int32_t m_nCapacity = 0;
};

// A buffer that nobody changes any more, shared by every reader of it.
using SharedOutBuf = std::shared_ptr<const COutBuf>;
