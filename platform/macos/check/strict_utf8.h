// Strict UTF-8 decoding for the stand-ins of Apple's string classes, which refuse ill-formed
// bytes (overlong forms, surrogates, code points past U+10FFFF, cut sequences) as the real ones do.
#pragma once

#include <string>
#include <string_view>

namespace fake_strings {

// The code points of `bytes`, or false when the bytes are not well-formed UTF-8.
inline bool decodeStrictUtf8(std::string_view bytes, std::u32string& codePoints) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t extra = 0;
        char32_t c = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        for (std::size_t i = 1; i <= extra; ++i) {
            if (at + i >= bytes.size() || (static_cast<unsigned char>(bytes[at + i]) & 0xC0) != 0x80) return false;
            c = (c << 6) | (static_cast<unsigned char>(bytes[at + i]) & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        codePoints += c;
        at += 1 + extra;
    }
    return true;
}

}  // namespace fake_strings
