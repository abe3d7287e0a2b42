#pragma once
// Text between the program's UTF-8 and the wide calls of Windows, and the
// system's own words for an error code.
#include <string>

namespace dervix::win {

// Invalid bytes or units become U+FFFD rather than failing the whole text.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// The system's message for a GetLastError() code, without its line end.
std::string ErrorText(unsigned long code);

// An environment variable as UTF-8; the empty text when unset.
std::string Environment(const char* name);

}  // namespace dervix::win
