// What a fuzz target does when an invariant does not hold: it names the invariant, shows the
// texts involved with every byte outside printable ASCII escaped, and aborts, so that libFuzzer
// keeps the input as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fuzz {

inline std::string escaped(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\' && byte != '"') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

[[noreturn]] inline void violated(std::string_view invariant, std::initializer_list<std::string_view> texts = {}) {
    std::fprintf(stderr, "invariant violated: %.*s\n", static_cast<int>(invariant.size()), invariant.data());
    int index = 0;
    for (const std::string_view text : texts) std::fprintf(stderr, "  [%d] \"%s\"\n", index++, escaped(text).c_str());
    std::abort();
}

inline void require(bool holds, std::string_view invariant, std::initializer_list<std::string_view> texts = {}) {
    if (!holds) violated(invariant, texts);
}

}  // namespace fuzz
