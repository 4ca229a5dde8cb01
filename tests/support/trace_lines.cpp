#include "support/trace_lines.h"

#include <cctype>
#include <cstdlib>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<unsigned> hexNumber(std::string_view digits) {
    unsigned value = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return value;
}

void appendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

bool isMilliseconds(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot != 4) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != dot && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> TraceLine::value(std::string_view key) const {
    for (const auto& [k, v] : fields) {
        if (k == key) return v;
    }
    return std::nullopt;
}

std::vector<std::string> TraceLine::values(std::string_view key) const {
    std::vector<std::string> found;
    for (const auto& [k, v] : fields) {
        if (k == key) found.push_back(v);
    }
    return found;
}

std::optional<std::string> unquote(std::string_view quoted) {
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        const char c = quoted[i];
        if (static_cast<unsigned char>(c) < 0x20 || c == '"') return std::nullopt;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i + 1 >= quoted.size()) return std::nullopt;
        switch (quoted[i]) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'x': {
                if (i + 3 >= quoted.size()) return std::nullopt;
                const auto byte = hexNumber(quoted.substr(i + 1, 2));
                if (!byte) return std::nullopt;
                out.push_back(static_cast<char>(*byte));
                i += 2;
                break;
            }
            case 'u': {
                if (i + 5 >= quoted.size()) return std::nullopt;
                const auto codePoint = hexNumber(quoted.substr(i + 1, 4));
                if (!codePoint) return std::nullopt;
                appendUtf8(out, *codePoint);
                i += 4;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

std::optional<TraceLine> parseTraceLine(std::string_view line) {
    TraceLine parsed;
    const auto first = line.find(' ');
    if (first == std::string_view::npos) return std::nullopt;
    parsed.milliseconds = std::string(line.substr(0, first));
    if (!isMilliseconds(parsed.milliseconds)) return std::nullopt;
    const auto second = line.find(' ', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const std::string pid(line.substr(first + 1, second - first - 1));
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    parsed.pid = std::stol(pid);
    std::size_t at = line.find(' ', second + 1);
    parsed.event = std::string(line.substr(second + 1, at == std::string_view::npos ? std::string_view::npos : at - second - 1));
    if (parsed.event.empty() || parsed.event.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos) {
        return std::nullopt;
    }
    while (at != std::string_view::npos) {
        ++at;  // the one space before each field
        const auto equals = line.find('=', at);
        if (equals == std::string_view::npos) return std::nullopt;
        const std::string key(line.substr(at, equals - at));
        if (key.empty() || key.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos) return std::nullopt;
        std::size_t end = equals + 1;
        if (end < line.size() && line[end] == '"') {
            // A quoted text ends at the first quotation mark that no backslash escapes.
            for (++end; end < line.size() && line[end] != '"'; ++end) {
                if (line[end] == '\\') ++end;
            }
            if (end >= line.size()) return std::nullopt;
            const auto text = unquote(line.substr(equals + 1, end - equals));
            if (!text) return std::nullopt;
            parsed.fields.emplace_back(key, *text);
            parsed.quoted.push_back(true);
            ++end;
            if (end < line.size() && line[end] != ' ') return std::nullopt;
        } else {
            end = line.find(' ', end);
            const std::string_view value = line.substr(equals + 1, end == std::string_view::npos ? std::string_view::npos : end - equals - 1);
            if (value.find('"') != std::string_view::npos) return std::nullopt;
            parsed.fields.emplace_back(key, std::string(value));
            parsed.quoted.push_back(false);
        }
        at = end < line.size() ? end : std::string_view::npos;
    }
    return parsed;
}

std::optional<std::vector<TraceLine>> parseTrace(std::string_view text) {
    std::vector<TraceLine> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        if (newline == std::string_view::npos) return std::nullopt;
        auto line = parseTraceLine(text.substr(0, newline));
        if (!line) return std::nullopt;
        lines.push_back(std::move(*line));
        text.remove_prefix(newline + 1);
    }
    return lines;
}

std::vector<TraceLine> eventsOf(const std::vector<TraceLine>& lines, std::initializer_list<std::string_view> events) {
    std::vector<TraceLine> found;
    for (const TraceLine& line : lines) {
        for (const std::string_view event : events) {
            if (line.event == event) {
                found.push_back(line);
                break;
            }
        }
    }
    return found;
}
