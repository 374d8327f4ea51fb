// The command-line grammar by which the program talks to copies of itself,
// and the command lines it builds for them.
#pragma once

#include <cstddef>
#include <string>

#include "app/path_text.h"

// Command lines and the relocated copy's path share a buffer of 256.
const size_t MAX_COMMAND_LINE_CHARS = 256;

struct StartArguments {
    bool bReopen = false;        // exactly "re_open": after an update
    bool bDeleteFile = false;    // "delfile..." with a usable path after its last "="
    std::wstring deletePath;     // the file a relocated copy removes
};

// Reads the argument text (what follows the program's own path). "re_open"
// is compared exactly and case-sensitively; "delfile" on the first 7
// characters only, the path being the text after the last "=". A path of
// MAX_PATH_CHARS characters or more is never acted on.
StartArguments ParseStartArguments(const std::wstring& text);

// "\"" program "\" " argument: the quoted program path keeps a path with
// blanks in one piece. Empty when the result and its terminator would not fit
// in nBufferChars, so that a command line is never started cut short.
std::wstring BuildCommandLine(const std::wstring& program, const std::wstring& argument, size_t nBufferChars);
