#pragma once
// How a text from outside (a module's bytes, a request of another program)
// is written where a control character in it would act: in a log line, on
// the link, on a terminal. Backslash, CR and LF are written \\, \r and \n;
// every other control character of Latin-1 (C0 U+0000 to U+001F, DEL U+007F,
// C1 U+0080 to U+009F) as \x and two upper-case hexadecimal digits, so that
// "\x1B" stands for ESC. Nothing else changes.
#include <string>
#include <string_view>

namespace dervix {

bool IsControlCode(unsigned code);
// Appends one character below U+0100 as it is written escaped.
void AppendEscaped(std::string& out, unsigned code);
// latin1 escaped, still Latin-1.
std::string EscapeControls(std::string_view latin1);

}  // namespace dervix
