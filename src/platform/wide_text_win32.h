// Conversions between 8-bit and UTF-16 text for the Win32 side.
#pragma once

#include <string>

// 8-bit text of a code page (CP_UTF8, or CP_ACP for the system's ANSI code
// page) as wide text.
std::wstring ToWide(const std::string& text, unsigned int codePage);
std::string WideToUtf8(const std::wstring& text);
