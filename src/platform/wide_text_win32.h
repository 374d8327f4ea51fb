// UTF-8 and UTF-16 conversions for the Win32 side.
#pragma once

#include <string>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// 8-bit text of the system's ANSI code page as wide text.
std::wstring AnsiToWide(const std::string& text);
