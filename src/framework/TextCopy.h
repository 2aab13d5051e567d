// The framework's owned copies of host and device texts: array new, freed with array delete.
#pragma once

#include <cstring>

// A new NUL-terminated copy of `text`, or null for null.
inline char* CopyText(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}
