// Whole-file writes that never leave a partial file behind.
#pragma once

#include <cstddef>
#include <string>

// Creates or replaces the file at path (UTF-8) with exactly size bytes. When
// the file cannot be created, written whole or closed, any partial file is
// removed and the result is false.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);
