// What a program file's version resource says of it, read from its bytes
// alone: its file version and the product it names. Every reader fails on
// bytes that do not hold what it looks for instead of reading past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ProgramVersion {
    // The fixed file version: the major part in the top 16 bits, then
    // minor, build and revision, so that a higher number is a later version.
    uint64_t nFileVersion = 0;
    // The values of the first string table, in UTF-16.
    std::u16string productName;
    std::u16string originalFilename;
};

// Reads the version resource (the first RT_VERSION entry) of a PE image
// (PE32 or PE32+). False when the image has none, or when it is not whole.
bool ReadProgramVersion(const uint8_t* image, size_t size, ProgramVersion* version);
