// Conversion of the framework's ANSI texts to the wide texts that server addresses and request paths use.
#pragma once

#include <string>

namespace platform {

// The text read in the system's ANSI code page, as UTF-16 (wchar_t) text; null gives an empty text.
// On POSIX the code page is UTF-8; a byte that does not belong to a valid UTF-8 sequence stands for the
// character of the same number (Latin-1), so no input is ever rejected.
std::wstring AnsiToWide(const char* text);

}  // namespace platform
