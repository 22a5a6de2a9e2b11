// Text encoding conversions at Korvex's borders. Shift_JIS (CP932) is the
// encoding of legacy PSD layer names and of the cell-name character test;
// UTF-8 is the encoding of cell names, JSON and XML; the console encoding is
// Shift_JIS under a Shift_JIS locale and UTF-8 otherwise.
#pragma once

#include <string>

namespace korvex {

// Shift_JIS -> UTF-8 through ICU ("shift_jis" -> "utf8"). The input is read
// up to its first zero byte; invalid bytes become the substitution character.
std::string sjisToUtf8(const std::string& sjis);
// UTF-8 -> Shift_JIS through ICU ("utf8" -> "shift_jis"), the same rules;
// characters Shift_JIS cannot hold become its substitution character.
std::string utf8ToSjis(const std::string& utf8);
// UTF-16 -> UTF-8. False ("bad conversion") on an unpaired surrogate.
bool wideToUtf8(const std::u16string& wide, std::string& utf8);

// UTF-8 text (catalogue texts, cell names) in the console encoding.
std::string utf8ToConsole(const std::string& utf8);
// Raw Shift_JIS bytes (a legacy layer name) in the console encoding; the
// bytes are unchanged on a Shift_JIS console.
std::string sjisToConsole(const std::string& sjis);
// Console-encoded text (paths, options) as UTF-8 (unchanged on a UTF-8 console).
std::string consoleToUtf8(const std::string& console);

// Paths in the console encoding. On a Shift_JIS console the second byte of a
// double-byte character may be 0x5C, the code of "\"; such bytes are part of
// their character and never a separator.
// The path with every separating "\" turned into "/".
std::string withForwardSlashes(const std::string& consolePath);
// The position of the last separating "/" or "\", or npos when there is none.
size_t lastPathSeparator(const std::string& consolePath);

}  // namespace korvex
