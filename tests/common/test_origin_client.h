// Access to the loopback test origin (tests/tools/test_origin.py) that the
// test fixture starts: its address comes from QUILLET_TEST_ORIGIN
// ("127.0.0.1:port"). Control requests go through FetchToBuffer itself.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/out_buf.h"
#include "net/download_client.h"

inline std::string OriginBase()
{
    const char* address = std::getenv("QUILLET_TEST_ORIGIN");
    return std::string("http://") + (address ? address : "127.0.0.1:1");
}

inline std::string OriginUrl(const std::string& path)
{
    return OriginBase() + path;
}

// The body the origin's generated routes send: byte i is (i * 31 + 7) & 0xFF.
inline std::vector<uint8_t> OriginPattern(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + 7) & 0xFF);
    return bytes;
}

inline std::string OriginControl(const std::string& pathAndQuery)
{
    COutBuf body;
    FetchToBuffer(OriginUrl(pathAndQuery).c_str(), "", &body);
    return body.IsEmpty() ? std::string() : std::string(body.GetCString(), static_cast<size_t>(body.GetLength()));
}

inline void OriginReset()
{
    OriginControl("/__reset");
}

// How many requests for this path the origin has recorded since the reset.
inline int OriginCount(const std::string& path)
{
    return std::atoi(OriginControl("/__count?path=" + path).c_str());
}
