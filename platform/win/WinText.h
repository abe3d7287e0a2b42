#pragma once
// Text between the program's UTF-8 and the wide calls of Windows, and the
// system's own words for an error code.
#include <string>

namespace dervix::win {

// Invalid bytes or units become U+FFFD rather than failing the whole text.
// codePage: 65001 (UTF-8), or 0 for the ANSI code page of the "A" calls,
// where a character it lacks becomes "?".
std::wstring Widen(const std::string& text, unsigned codePage = 65001);
std::string Narrow(const std::wstring& wide, unsigned codePage = 65001);

// path made absolute from the working folder (UTF-8), or as it is when the
// system cannot.
std::string FullPath(const std::string& path);

// The system's message for a GetLastError() code, without its line end.
std::string ErrorText(unsigned long code);

// An environment variable as UTF-8; the empty text when unset.
std::string Environment(const char* name);

}  // namespace dervix::win
