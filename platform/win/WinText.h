#pragma once
// Text between the program and the wide calls of Windows: paths and names
// the program holds as UTF-8, the logic's texts (what the module, the profile
// and the operator's boxes carry) as single-byte Latin-1. Also the system's
// own words for an error code, and the short form of a path.
#include <string>

namespace dervix::win {

// Invalid bytes or units become U+FFFD rather than failing the whole text.
// codePage: 65001 (UTF-8), or 0 for the ANSI code page of the "A" calls,
// where a character it lacks becomes "?".
std::wstring Widen(const std::string& text, unsigned codePage = 65001);
std::string Narrow(const std::wstring& wide, unsigned codePage = 65001);

// The logic's single-byte text and back; a character beyond Latin-1 becomes
// "?" (one for a surrogate pair).
std::wstring FromLatin1(const std::string& text);
std::string ToLatin1(const std::wstring& wide);

// path made absolute from the working folder (UTF-8), or as it is when the
// system cannot.
std::string FullPath(const std::string& path);

// The system's message for a GetLastError() code, without its line end, in
// the logic's text: it goes into the operator's boxes and the log.
std::string ErrorText(unsigned long code);

// The short form of an existing path, with "\" between its parts; a part
// without a short name keeps its long one. The path as given, with "\"
// between its parts too, when the system has none (the path does not exist,
// or may not be read).
std::wstring ShortPath(const std::wstring& path);

// An environment variable as UTF-8; the empty text when unset.
std::string Environment(const char* name);

// One of the user's folders: the environment variable that names it (as
// "LOCALAPPDATA"), else its usual place under %USERPROFILE% (as
// "AppData\Local"). UTF-8, with "\" between its parts.
std::string UserFolder(const char* variable, const char* underProfile);

}  // namespace dervix::win
