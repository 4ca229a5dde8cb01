// The pieces of a trace line: quoted texts, numbers and durations, written so that one line
// stays one line and a program reads every field back without guessing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trace {

// Appends `text` between double quotes. Valid UTF-8 stands as it is, except:
//   quotation mark, backslash, line feed, carriage return, tab   as \" \\ \n \r \t
//   every other byte below 0x20, and 0x7F   as \xHH (two lower-case hex digits)
//   a byte that starts no valid UTF-8 sequence (a stray continuation byte, a truncated or
//   overlong sequence, a surrogate, a code point above U+10FFFF)   as \xHH, one byte at a time
//   U+0080..U+009F, U+2028 and U+2029, which some readers take for line breaks   as \uHHHH
// So the quoted text holds no byte below 0x20 and no line break of any reader's kind, and
// undoing the escapes gives back the exact bytes.
void appendQuoted(std::string& out, std::string_view text);

// The length of the valid UTF-8 sequence at the start of `text` (not empty) and its code point,
// or 0 when the first byte starts none (stray, truncated, overlong, surrogate, above U+10FFFF).
std::size_t sequenceAt(std::string_view text, char32_t& codePoint);

void appendInteger(std::string& out, std::int64_t value);

// The shortest decimal form that reads back as the same double ("110", "12.5", "-0.25").
void appendDouble(std::string& out, double value);

// Nanoseconds as milliseconds with three decimals: 1234567 is "1.234".
void appendMilliseconds(std::string& out, std::int64_t nanoseconds);

}  // namespace trace
