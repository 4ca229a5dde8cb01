// The text rules of every comparison the tool makes and of the one cut it applies.
//
// Texts are UTF-8. Two texts are equal when they are canonically equivalent (equal NFD forms),
// case-sensitively, with nothing trimmed. A "character" is an extended grapheme cluster.
//
// Invalid UTF-8 (only a command-line argument can carry it; platform texts are valid) is never
// repaired or dropped: each byte that does not belong to a valid sequence stands for itself, as
// a character of its own that equals only the same byte. So an id with a stray byte matches
// only a text with that very byte at that place, and the cut never splits or alters it.
#pragma once

#include <cstddef>
#include <string_view>

namespace text {

// equal("OK", "O\u212A") is true: KELVIN SIGN is canonically a K.
bool equal(std::string_view a, std::string_view b);

// Whether `text` begins with `prefix` under canonical equivalence, where the match must end on a
// character boundary of the text: "ab\u0301" does not begin with "ab", because its last
// character is b with an accent.
bool beginsWith(std::string_view text, std::string_view prefix);

// Whether `needle` occurs in `text` under canonical equivalence, starting and ending on character
// boundaries of the text. Every occurrence is tried, not only the first.
bool contains(std::string_view text, std::string_view needle);

// The first `count` characters of `text` as read, with their original bytes; the whole text when
// it is shorter. firstCharacters("e\u0301x", 1) is "e\u0301".
std::string_view firstCharacters(std::string_view text, std::size_t count);

}  // namespace text
