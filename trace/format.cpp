#include "trace/format.h"

#include <charconv>
#include <cstdio>

namespace trace {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void appendByteEscape(std::string& out, unsigned char byte) {
    out.append("\\x");
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

void appendCodePointEscape(std::string& out, char32_t codePoint) {
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(codePoint >> shift) & 0xF]);
}

}  // namespace

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::size_t sequenceAt(std::string_view text, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!isContinuation(byte)) return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
                case '"': out.append("\\\""); break;
                case '\\': out.append("\\\\"); break;
                case '\n': out.append("\\n"); break;
                case '\r': out.append("\\r"); break;
                case '\t': out.append("\\t"); break;
                default:
                    if (byte < 0x20 || byte == 0x7F) {
                        appendByteEscape(out, byte);
                    } else {
                        out.push_back(static_cast<char>(byte));
                    }
            }
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = sequenceAt(text.substr(i), codePoint);
        if (length == 0) {
            appendByteEscape(out, byte);
            ++i;
        } else if (codePoint <= 0x9F || codePoint == 0x2028 || codePoint == 0x2029) {
            appendCodePointEscape(out, codePoint);
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out.push_back('"');
}

void appendInteger(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendDouble(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendMilliseconds(std::string& out, std::int64_t nanoseconds) {
    if (nanoseconds < 0) nanoseconds = 0;
    const std::int64_t microseconds = nanoseconds / 1000;
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(microseconds / 1000),
                                     static_cast<long long>(microseconds % 1000));
    out.append(buffer, static_cast<std::size_t>(length));
}

}  // namespace trace
