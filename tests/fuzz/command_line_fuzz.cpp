// The argument grammar: a delete is only ever asked for with a usable path
// that fits its buffer, and never together with the re-open flag.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/start_arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    StartArguments arguments = ParseStartArguments(text);
    if (arguments.bReopen && (arguments.bDeleteFile || text != L"re_open")) __builtin_trap();
    if (arguments.bDeleteFile &&
        (arguments.deletePath.empty() || arguments.deletePath.size() >= MAX_PATH_CHARS ||
         arguments.deletePath.find(L'=') != std::wstring::npos || text.compare(0, 7, L"delfile") != 0)) {
        __builtin_trap();
    }
    std::wstring line = BuildCommandLine(text, L"re_open", MAX_COMMAND_LINE_CHARS);
    if (line.size() >= MAX_COMMAND_LINE_CHARS) __builtin_trap();
    return 0;
}
