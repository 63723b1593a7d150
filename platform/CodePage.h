// Code pages and case mapping.
//
// The ANSI side is the system's code page (UTF-8 here); the OEM side is CP437, as
// ZIP readers expect for names without the UTF-8 flag. `AnsiToOem` maps each
// character to its CP437 byte and writes "?" for a character CP437 lacks (and for
// each byte of malformed UTF-8); `OemToAnsi` maps each CP437 byte to UTF-8. Bytes
// below 0x80 are the same on both sides.
//
// Case mapping follows the user's locale (LC_CTYPE; C.UTF-8 when the locale is not a
// UTF-8 one), character by character; malformed bytes are left as they are. The
// `Ascii...` forms change only the letters a-z / A-Z.
#pragma once

#include <string>
#include <string_view>

namespace zw {

std::string AnsiToOem(std::string_view ansi);
std::string OemToAnsi(std::string_view oem);

// A host name as valid UTF-8, one to one: every byte that is not part of well-formed
// UTF-8 (and every byte of a character U+EF80-U+EFFF, which serve as the escapes)
// becomes the private-use character U+EF00 + byte; all else is kept. A valid UTF-8
// name without such characters comes back unchanged. `Utf8NameBytes` undoes it.
std::string Utf8Name(std::string_view bytes);
std::string Utf8NameBytes(std::string_view name);

std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
// Locale-aware comparison without regard to case: <0, 0, >0.
int AnsiCompareText(std::string_view a, std::string_view b);
inline bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

std::string AsciiUpperCase(std::string_view text);
std::string AsciiLowerCase(std::string_view text);
bool AsciiSameText(std::string_view a, std::string_view b);

}  // namespace zw
