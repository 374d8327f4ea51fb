#include "out_buf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/file_system.h"

namespace {

const int PRINTF_AREA = 4096;
const int64_t MAX_LENGTH = std::numeric_limits<int32_t>::max();

// Closes a stdio file on every path out of a function.
class File {
public:
    File(const char* path, const char* mode) : m_pFile(OpenFile(path, mode)) {}
    ~File() { if (m_pFile) std::fclose(m_pFile); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* get() const { return m_pFile; }
    // Closes now and reports whether everything buffered reached the file.
    bool Close()
    {
        std::FILE* file = m_pFile;
        m_pFile = nullptr;
        return file && std::fclose(file) == 0;
    }

private:
    std::FILE* m_pFile;
};

}  // namespace

COutBuf::~COutBuf()
{
    Free();
}

void COutBuf::Free()
{
    std::free(m_pData);
    m_pData = nullptr;
    m_nLength = 0;
    m_nCapacity = 0;
}

uint8_t* COutBuf::GetData()
{
    return m_pData;
}

const uint8_t* COutBuf::GetData() const
{
    return m_pData;
}

int32_t COutBuf::GetLength() const
{
    return m_nLength;
}

bool COutBuf::IsEmpty() const
{
    return m_nLength == 0;
}

bool COutBuf::PutByte(uint8_t value)
{
    return Write(&value, 1);
}

bool COutBuf::PutInt32(int32_t value)
{
    uint32_t bits = static_cast<uint32_t>(value);
    uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                        static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    return Write(bytes, 4);
}

char* COutBuf::GetCString()
{
    if (m_nLength == m_nCapacity) {
        if (!PutByte(0)) return nullptr;
        --m_nLength;
    } else {
        m_pData[m_nLength] = 0;
    }
    return reinterpret_cast<char*>(m_pData);
}

bool COutBuf::PutString(const char* text)
{
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(MAX_LENGTH)) return false;
    return Write(text, static_cast<int32_t>(length));
}

// Grows the storage to the smallest multiple of the growth step that holds
// needed bytes. Growth is linear on purpose: Reserve is the way to avoid
// repeated copies when the final size is known.
bool COutBuf::GrowTo(int64_t needed)
{
    if (needed <= m_nCapacity) return true;
    if (needed > MAX_LENGTH) return false;
    int64_t capacity = (needed + m_nGrowBy - 1) / m_nGrowBy * m_nGrowBy;
    if (capacity > MAX_LENGTH) capacity = MAX_LENGTH;
    void* block = std::realloc(m_pData, static_cast<size_t>(capacity));
    if (!block) return false;
    m_pData = static_cast<uint8_t*>(block);
    m_nCapacity = static_cast<int32_t>(capacity);
    return true;
}

bool COutBuf::Write(const void* data, int32_t count)
{
    if (count == 0) return true;
    uint8_t* area = Extend(count);
    if (!area) return false;
    std::memcpy(area, data, static_cast<size_t>(count));
    return true;
}

bool COutBuf::Printf(const char* format, ...)
{
    char area[PRINTF_AREA];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(area, sizeof(area), format, args);
    va_end(args);
    bool ok = false;
    if (length >= 0 && length < PRINTF_AREA) {
        ok = Write(area, length);
    } else if (length >= PRINTF_AREA) {
        // Longer output is formatted again into a block of its own size.
        char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
        if (text) {
            std::vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
            ok = Write(text, length);
            std::free(text);
        }
    }
    va_end(again);
    return ok;
}

bool COutBuf::LoadFromFile(const char* path)
{
    File file(path, "rb");
    if (!file.get()) return false;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
    long size = std::ftell(file.get());
    if (size < 0 || size > MAX_LENGTH || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
    if (size == 0) return true;
    uint8_t* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (!block) return false;
    if (std::fread(block, 1, static_cast<size_t>(size), file.get()) != static_cast<size_t>(size)) {
        std::free(block);
        return false;
    }
    std::free(m_pData);
    m_pData = block;
    m_nLength = static_cast<int32_t>(size);
    m_nCapacity = static_cast<int32_t>(size);
    return true;
}

bool COutBuf::SaveToFile(const char* path) const
{
    File file(path, "wb");
    if (!file.get()) return false;
    size_t length = static_cast<size_t>(m_nLength);
    bool written = length == 0 || std::fwrite(m_pData, 1, length, file.get()) == length;
    bool flushed = written && FlushToDisk(file.get());
    bool closed = file.Close();
    return flushed && closed;
}

bool COutBuf::Append(const COutBuf& other)
{
    return Write(other.GetData(), other.GetLength());
}

void COutBuf::SetGrowBy(int32_t step)
{
    m_nGrowBy = step < 1 ? 1 : step;
}

bool COutBuf::PadTo(int32_t m)
{
    if (m < 1) return true;
    while (m_nLength % m != 0) {
        if (!PutByte(0)) return false;
    }
    return true;
}

bool COutBuf::Reserve(int32_t capacity)
{
    return capacity <= 0 || GrowTo(capacity);
}

uint8_t* COutBuf::Extend(int32_t count)
{
    if (count < 0 || !GrowTo(static_cast<int64_t>(m_nLength) + count)) return nullptr;
    uint8_t* area = m_pData + m_nLength;
    m_nLength += count;
    return area;
}

bool COutBuf::Prepend(const void* data, int32_t count)
{
    if (count == 0) return true;
    int32_t length = m_nLength;
    if (!Extend(count)) return false;
    std::memmove(m_pData + count, m_pData, static_cast<size_t>(length));
    std::memcpy(m_pData, data, static_cast<size_t>(count));
    return true;
}
