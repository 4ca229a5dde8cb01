#include "text/unicode.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <utf8proc.h>

namespace text {
namespace {

using CodePoint = utf8proc_int32_t;

// A byte outside any valid sequence is carried as a value beyond Unicode, one per byte value.
constexpr CodePoint kStrayByteBase = 0x110000;

bool isStray(CodePoint c) { return c >= kStrayByteBase; }

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Decodes one code point at `s`, or a stray byte. Returns the bytes consumed.
std::size_t decodeOne(std::string_view s, CodePoint& out) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    const utf8proc_ssize_t length = utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(s.size()), &out);
    if (length > 0) return static_cast<std::size_t>(length);
    out = kStrayByteBase + static_cast<unsigned char>(s.front());
    return 1;
}

// Appends the canonical decomposition of a run of valid UTF-8, canonically ordered.
void appendDecomposed(std::string_view run, std::vector<CodePoint>& out) {
    if (run.empty()) return;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(run.data());
    const auto length = static_cast<utf8proc_ssize_t>(run.size());
    const utf8proc_option_t options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE);
    // The first call only measures, so a long text costs no more memory than its NFD form.
    const utf8proc_ssize_t needed = utf8proc_decompose(bytes, length, nullptr, 0, options);
    if (needed <= 0) return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed));
    utf8proc_decompose(bytes, length, out.data() + start, needed, options);
}

// The NFD form of `s`. Valid stretches are decomposed and reordered; a stray byte is a barrier
// that no reordering crosses.
std::vector<CodePoint> decomposed(std::string_view s) {
    std::vector<CodePoint> out;
    out.reserve(s.size());
    std::size_t runStart = 0;
    std::size_t at = 0;
    while (at < s.size()) {
        CodePoint c = 0;
        const std::size_t length = decodeOne(s.substr(at), c);
        if (isStray(c)) {
            appendDecomposed(s.substr(runStart, at - runStart), out);
            out.push_back(c);
            runStart = at + length;
        }
        at += length;
    }
    appendDecomposed(s.substr(runStart), out);
    return out;
}

// Whether a character boundary lies between two adjacent code points. Stray bytes are
// characters of their own, like controls.
bool isBreak(CodePoint before, CodePoint after, CodePoint& state) {
    if (isStray(before) || isStray(after)) {
        state = 0;
        return true;
    }
    return utf8proc_grapheme_break_stateful(before, after, &state);
}

// boundaries[i] tells whether a character boundary lies before code point i (i == size: the end).
std::vector<bool> boundaries(const std::vector<CodePoint>& codePoints) {
    std::vector<bool> result(codePoints.size() + 1, true);
    CodePoint state = 0;
    for (std::size_t i = 1; i < codePoints.size(); ++i) {
        result[i] = isBreak(codePoints[i - 1], codePoints[i], state);
    }
    return result;
}

// Every start position of `needle` in `haystack`, in linear time (Knuth-Morris-Pratt), so that
// a long alert text and a long command id cannot make the search quadratic.
std::vector<std::size_t> occurrences(const std::vector<CodePoint>& haystack, const std::vector<CodePoint>& needle) {
    std::vector<std::size_t> found;
    if (needle.empty()) {
        for (std::size_t i = 0; i <= haystack.size(); ++i) found.push_back(i);
        return found;
    }
    std::vector<std::size_t> border(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) k = border[k - 1];
        if (needle[i] == needle[k]) ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < haystack.size(); ++i) {
        while (k > 0 && haystack[i] != needle[k]) k = border[k - 1];
        if (haystack[i] == needle[k]) ++k;
        if (k == needle.size()) {
            found.push_back(i + 1 - k);
            k = border[k - 1];
        }
    }
    return found;
}

}  // namespace

bool equal(std::string_view a, std::string_view b) {
    if (a == b) return true;
    // ASCII text is its own NFD form.
    if (isAscii(a) && isAscii(b)) return false;
    return decomposed(a) == decomposed(b);
}

bool beginsWith(std::string_view text, std::string_view prefix) {
    const std::vector<CodePoint> t = decomposed(text);
    const std::vector<CodePoint> p = decomposed(prefix);
    if (p.size() > t.size() || !std::equal(p.begin(), p.end(), t.begin())) return false;
    return boundaries(t)[p.size()];
}

bool contains(std::string_view text, std::string_view needle) {
    const std::vector<CodePoint> t = decomposed(text);
    const std::vector<CodePoint> n = decomposed(needle);
    if (n.size() > t.size()) return false;
    const std::vector<bool> isBoundary = boundaries(t);
    for (const std::size_t start : occurrences(t, n)) {
        if (isBoundary[start] && isBoundary[start + n.size()]) return true;
    }
    return false;
}

std::string_view firstCharacters(std::string_view text, std::size_t count) {
    if (text.empty() || count == 0) return text.substr(0, 0);
    CodePoint previous = 0;
    std::size_t at = decodeOne(text, previous);
    std::size_t characters = 1;
    CodePoint state = 0;
    while (at < text.size()) {
        CodePoint current = 0;
        const std::size_t length = decodeOne(text.substr(at), current);
        if (isBreak(previous, current, state)) {
            if (characters == count) return text.substr(0, at);
            ++characters;
        }
        previous = current;
        at += length;
    }
    return text;
}

}  // namespace text
