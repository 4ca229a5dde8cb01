#include "trace/reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include <fast_float/fast_float.h>

#include "trace/format.h"

namespace trace {
namespace {

bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A lower-case word, or several joined by single hyphens: "get", "owner-at".
std::size_t wordAt(std::string_view text) {
    std::size_t i = 0;
    while (true) {
        const std::size_t start = i;
        while (i < text.size() && isLower(text[i])) ++i;
        if (i == start) return 0;
        if (i + 1 < text.size() && text[i] == '-' && isLower(text[i + 1])) {
            ++i;
            continue;
        }
        return i;
    }
}

std::optional<unsigned> hexOf(std::string_view digits) {
    unsigned value = 0;
    for (const char c : digits) {
        value <<= 4;
        if (isDigit(c)) {
            value |= static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value |= static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;  // the writer's hex digits are lower case
        }
    }
    return value;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// A quoted text from its opening quotation mark: its bytes, and how much of `text` it took.
// Only what the writer writes is read: no raw control byte, line break of any kind or invalid
// UTF-8, and each escape for exactly what the writer escapes with it. A text without escapes is
// a view into `text`; the bytes of one with escapes are decoded into a new value of `decoded`.
std::optional<std::string_view> quotedAt(std::string_view text, std::size_t& used, DecodedValues& decoded,
                                         std::string& error) {
    // Up to the first escape the text is its own bytes: only then is there anything to decode.
    std::string* out = nullptr;
    std::size_t i = 1;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"') {
            used = i + 1;
            if (out == nullptr) return text.substr(1, i - 1);
            return std::string_view(*out);
        }
        if (byte == '\\') {
            if (out == nullptr) {
                out = &decoded.emplace_back();
                out->append(text.substr(1, i - 1));
            }
            if (i + 1 >= text.size()) break;
            const char kind = text[i + 1];
            switch (kind) {
                case '"': out->push_back('"'); i += 2; continue;
                case '\\': out->push_back('\\'); i += 2; continue;
                case 'n': out->push_back('\n'); i += 2; continue;
                case 'r': out->push_back('\r'); i += 2; continue;
                case 't': out->push_back('\t'); i += 2; continue;
                case 'x': {
                    const auto value = i + 4 <= text.size() ? hexOf(text.substr(i + 2, 2)) : std::nullopt;
                    if (!value) {
                        error = "a \\x escape without two lower-case hex digits";
                        return std::nullopt;
                    }
                    // Only bytes that have no other way: controls, DEL, and bytes of 0x80 and above
                    // (those that start no valid UTF-8 sequence where they stand).
                    if ((*value >= 0x20 && *value < 0x7F) || *value == '\n' || *value == '\r' || *value == '\t') {
                        error = "a \\x escape of a byte that is written otherwise";
                        return std::nullopt;
                    }
                    out->push_back(static_cast<char>(*value));
                    i += 4;
                    continue;
                }
                case 'u': {
                    const auto value = i + 6 <= text.size() ? hexOf(text.substr(i + 2, 4)) : std::nullopt;
                    if (!value || !((*value >= 0x80 && *value <= 0x9F) || *value == 0x2028 || *value == 0x2029)) {
                        error = "a \\u escape of a code point that is not written so";
                        return std::nullopt;
                    }
                    appendUtf8(*out, static_cast<char32_t>(*value));
                    i += 6;
                    continue;
                }
                default:
                    error = std::string("an unknown escape \\") + kind;
                    return std::nullopt;
            }
        }
        if (byte < 0x20 || byte == 0x7F) {
            error = "a control byte in a quoted text";
            return std::nullopt;
        }
        if (byte < 0x80) {
            if (out != nullptr) out->push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = sequenceAt(text.substr(i), codePoint);
        if (length == 0 || codePoint <= 0x9F || codePoint == 0x2028 || codePoint == 0x2029) {
            error = "a byte in a quoted text that is written escaped";
            return std::nullopt;
        }
        if (out != nullptr) out->append(text.substr(i, length));
        i += length;
    }
    error = "a quoted text without its closing quotation mark";
    return std::nullopt;
}


bool isPair(std::string_view text) {
    const auto comma = text.find(',');
    return comma != std::string_view::npos && doubleOf(text.substr(0, comma)) && doubleOf(text.substr(comma + 1));
}

bool isMilliseconds(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot != 4) return false;
    if (dot > 1 && text[0] == '0') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != dot && !isDigit(text[i])) return false;
    }
    return true;
}

bool isElement(std::string_view text) {
    if (text.empty() || text.front() != '#') return false;
    const auto value = integerOf(text.substr(1));
    return value && *value >= 0;
}

// "[#4,#5]" (elements) or "[1,2]" (plain numbers), possibly empty.
bool isList(std::string_view text, bool elements) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
    std::string_view rest = text.substr(1, text.size() - 2);
    if (rest.empty()) return true;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const auto number = integerOf(item);
        if (elements ? !isElement(item) : !(number && *number >= 0)) return false;
        if (comma == std::string_view::npos) return true;
        rest.remove_prefix(comma + 1);
    }
}

// The fields of one line's event, read in order against what the writer writes for it.
struct Cursor {
    const RecordedLine& line;
    std::size_t next = 0;
    std::optional<std::string> error;

    const Field* peek() const { return next < line.fields.size() ? &line.fields[next] : nullptr; }
    bool has(std::string_view key) const { return !error && peek() != nullptr && peek()->key == key; }
    void bad(std::string_view key, std::string_view what) {
        if (!error) error = std::string(key) + "= is not " + std::string(what);
    }
    // The next field, which must have this key and be quoted or bare as given.
    const std::string_view* take(std::string_view key, bool quoted) {
        if (error) return nullptr;
        const Field* f = peek();
        if (f == nullptr || f->key != key) {
            error = "expected " + std::string(key) + "= " +
                    (f == nullptr ? std::string("at the end of the line") : "where " + std::string(f->key) + "= stands");
            return nullptr;
        }
        if (f->quoted != quoted) {
            error = std::string(key) + "= must be " + (quoted ? "a quoted text" : "a bare value");
            return nullptr;
        }
        ++next;
        return &f->value;
    }
    void text(std::string_view key) { take(key, true); }
    void integer(std::string_view key) {
        if (const auto* v = take(key, false); v && !integerOf(*v)) bad(key, "a decimal integer");
    }
    void count(std::string_view key) {
        if (const auto* v = take(key, false); v && !(integerOf(*v) && *integerOf(*v) >= 0)) bad(key, "a number from 0");
    }
    void yesNo(std::string_view key) {
        if (const auto* v = take(key, false); v && *v != "yes" && *v != "no") bad(key, "yes or no");
    }
    std::string_view word(std::string_view key, std::initializer_list<std::string_view> words) {
        const auto* v = take(key, false);
        if (v == nullptr) return {};
        for (const std::string_view w : words) {
            if (*v == w) return *v;
        }
        bad(key, "a known word");
        return {};
    }
    void element(std::string_view key) {
        if (const auto* v = take(key, false); v && !isElement(*v)) bad(key, "an element number");
    }
    void list(std::string_view key, bool elements) {
        if (const auto* v = take(key, false); v && !isList(*v, elements)) {
            bad(key, elements ? "a list of element numbers" : "a list of numbers");
        }
    }
    void pair(std::string_view key) {
        if (const auto* v = take(key, false); v && !isPair(*v)) bad(key, "a pair of numbers");
    }
    void took() {
        if (const auto* v = take("took", false); v && !isMilliseconds(*v)) bad("took", "milliseconds");
    }
    void inputEvent() {
        const std::string_view kind = word("kind", {"mouse", "key"});
        if (kind == "mouse") {
            word("type", {"down", "up"});
            pair("point");
            word("button", {"left"});
        } else if (kind == "key") {
            count("key");
            yesNo("down");
        }
    }
};

// What the writer writes for each event, field by field: nothing less, nothing more.
std::optional<std::string> checkFields(const RecordedLine& line) {
    Cursor c{line, 0, std::nullopt};
    const std::string_view event = line.event;
    if (event == "start") {
        c.count("version");
        // Since version 5: the version and commit of the program that wrote it.
        if (c.has("build")) c.text("build");
        // Since version 4: a run of tessary-doctor.
        if (c.has("tool")) c.word("tool", {"doctor"});
        const auto* argc = c.take("argc", false);
        if (argc != nullptr && !integerOf(*argc)) c.bad("argc", "a decimal integer");
        std::int64_t args = 0;
        while (c.has("arg")) {
            c.text("arg");
            ++args;
        }
        if (!c.error && argc != nullptr && integerOf(*argc) != args) c.error = "argc= does not match the number of arg= fields";
    } else if (event == "trust") {
        c.yesNo("trusted");
        c.took();
    } else if (event == "applications") {
        c.text("bundle");
        c.list("found", false);
        c.took();
    } else if (event == "process-id") {
        c.count("application");
        c.integer("pid");
        c.took();
    } else if (event == "application-element") {
        c.integer("pid");
        c.element("element");
        c.took();
    } else if (event == "run-lock") {
        c.yesNo("held");
        c.took();
    } else if (event == "activate") {
        c.count("application");
        // Since version 3; a version-2 line has none.
        if (c.has("allowed")) c.word("allowed", {"yes", "no", "unknown"});
        c.took();
    } else if (event == "get") {
        c.element("element");
        c.text("attribute");
        c.integer("code");
        const std::string_view kind = c.word("kind", {"absent", "text", "list", "element", "point", "size", "boolean", "other"});
        if (kind == "text") c.text("value");
        if (kind == "list") c.list("value", true);
        if (kind == "element") c.element("value");
        if (kind == "point" || kind == "size") c.pair("value");
        if (kind == "boolean") c.yesNo("value");
        c.took();
    } else if (event == "press") {
        c.element("element");
        c.text("action");
        c.integer("code");
        c.took();
    } else if (event == "retain") {
        c.element("element");
        c.took();
    } else if (event == "owner-at") {
        c.pair("point");
        if (c.word("occupant", {"process", "nothing", "unknown"}) == "process") c.integer("pid");
        c.took();
    } else if (event == "create-event") {
        c.inputEvent();
        if (c.word("created", {"yes", "no"}) == "yes") c.count("event");
        c.took();
    } else if (event == "post") {
        c.count("event");
        c.inputEvent();
        c.took();
    } else if (event == "sleep") {
        c.count("us");
        c.took();
    } else if (event == "write") {
        c.text("path");
        c.count("bytes");
        c.text("text");
        if (c.word("outcome", {"ok", "error"}) == "error") c.text("error");
        c.took();
    } else if (event == "post-access") {
        c.yesNo("allowed");
        c.took();
    } else if (event == "frontmost" || event == "own-pid") {
        c.integer("pid");
        c.took();
    } else if (event == "process") {
        c.integer("pid");
        if (c.word("found", {"yes", "no"}) == "yes") {
            c.integer("parent");
            c.text("path");
        }
        c.took();
    } else if (event == "lock-test") {
        c.text("path");
        c.word("state", {"free", "held", "unusable", "unknown"});
        c.integer("holder");
        c.text("reason");
        c.took();
    } else if (event == "clock") {
        c.integer("us");
        c.took();
    } else if (event == "end") {
        c.word("status", {"0", "1"});
        if (c.has("failure")) c.text("failure");
    } else {
        return "unknown event \"" + std::string(event) + "\"";
    }
    if (!c.error && c.peek() != nullptr) c.error = "unexpected " + std::string(c.peek()->key) + "= after the event's fields";
    return c.error;
}

}  // namespace

const Field* RecordedLine::field(std::string_view key) const {
    for (const Field& f : fields) {
        if (f.key == key) return &f;
    }
    return nullptr;
}

std::optional<std::int64_t> integerOf(std::string_view value) {
    // As the writer writes them: no sign but a minus, no leading zero, no "-0".
    const bool negative = !value.empty() && value.front() == '-';
    const std::string_view digits = value.substr(negative ? 1 : 0);
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0') || (negative && digits == "0")) return std::nullopt;
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc{} || end != value.data() + value.size()) return std::nullopt;
    return number;
}

std::optional<double> doubleOf(std::string_view value) {
    // As std::to_chars writes them: no sign but a minus, decimal or scientific, "inf" and "nan".
    // fast_float reads exactly the forms of std::from_chars and rounds as it does, and is there
    // on every C++ library; std::from_chars for double is not (Apple's libc++ lacks it).
    if (value.empty() || value.front() == '+') return std::nullopt;
    double number = 0;
    const char* const last = value.data() + value.size();
    const auto [end, error] = fast_float::from_chars(value.data(), last, number);
    if (error != std::errc{} || end != last) return std::nullopt;
    // Digits beyond the range of a double, which std::from_chars refuses as out of range and
    // fast_float rounds to infinity or to zero: no writer wrote them.
    const std::string_view magnitude = value.substr(value.front() == '-' ? 1 : 0);
    const char first = magnitude.front();
    if (first == 'i' || first == 'I' || first == 'n' || first == 'N') return number;
    const std::string_view digits = magnitude.substr(0, magnitude.find_first_of("eE"));
    if (std::isinf(number) || (number == 0 && digits.find_first_of("123456789") != std::string_view::npos)) {
        return std::nullopt;
    }
    return number;
}

bool readLineInto(std::string_view text, RecordedLine& line, DecodedValues& decoded, std::string& error) {
    line.text = text;
    line.fields.clear();
    // <ms>: digits, a point, three digits.
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i == 0 || i + 4 > text.size() || text[i] != '.' || !isDigit(text[i + 1]) || !isDigit(text[i + 2]) ||
        !isDigit(text[i + 3])) {
        error = "no time in milliseconds with three decimals at its start";
        return false;
    }
    i += 4;
    line.milliseconds = text.substr(0, i);
    if (!isMilliseconds(line.milliseconds)) {
        error = "no time in milliseconds with three decimals at its start";
        return false;
    }
    if (i >= text.size() || text[i] != ' ') {
        error = "no blank after the time";
        return false;
    }
    ++i;
    const std::size_t pidStart = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    const auto pid = integerOf(text.substr(pidStart, i - pidStart));
    if (!pid || i >= text.size() || text[i] != ' ') {
        error = "no process id after the time";
        return false;
    }
    line.pid = *pid;
    ++i;
    const std::size_t eventLength = wordAt(text.substr(i));
    if (eventLength == 0) {
        error = "no event name";
        return false;
    }
    line.event = text.substr(i, eventLength);
    i += eventLength;
    while (i < text.size()) {
        if (text[i] != ' ' || i + 1 >= text.size()) {
            error = "fields are not separated by single blanks";
            return false;
        }
        ++i;
        const std::size_t keyLength = wordAt(text.substr(i));
        if (keyLength == 0 || i + keyLength >= text.size() || text[i + keyLength] != '=') {
            error = "a field that is not key=value";
            return false;
        }
        Field field;
        field.key = text.substr(i, keyLength);
        i += keyLength + 1;
        if (i < text.size() && text[i] == '"') {
            std::size_t used = 0;
            const auto value = quotedAt(text.substr(i), used, decoded, error);
            if (!value) return false;
            field.value = *value;
            field.quoted = true;
            i += used;
        } else {
            const std::size_t start = i;
            while (i < text.size() && text[i] != ' ') {
                const auto byte = static_cast<unsigned char>(text[i]);
                if (byte == '"' || byte < 0x21 || byte >= 0x7F) {
                    error = "a bare value with a byte that only a quoted text may hold";
                    return false;
                }
                ++i;
            }
            if (i == start) {
                error = "an empty value";
                return false;
            }
            field.value = text.substr(start, i - start);
        }
        line.fields.push_back(field);
    }
    if (auto wrong = checkFields(line)) {
        error = std::move(*wrong);
        return false;
    }
    return true;
}

std::optional<RecordedLine> readLine(std::string_view text, std::string& error) {
    RecordedLine line;
    auto decoded = std::make_shared<DecodedValues>();
    if (!readLineInto(text, line, *decoded, error)) return std::nullopt;
    if (!decoded->empty()) line.held = std::move(decoded);
    return line;
}

std::optional<std::string> forEachLine(std::string_view text, DecodedValues& decoded,
                                       const std::function<void(const RecordedLine&)>& each) {
    RecordedLine line;
    std::string error;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        ++number;
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            return "trace line " + std::to_string(number) + ": it has no line break (a run cut short?)";
        }
        if (!readLineInto(text.substr(start, end - start), line, decoded, error)) {
            return "trace line " + std::to_string(number) + ": " + error;
        }
        line.number = number;
        each(line);
        start = end + 1;
    }
    return std::nullopt;
}

std::size_t lineBreaks(std::string_view text) {
    // memchr finds a byte far faster than a loop over each.
    std::size_t count = 0;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at != end) {
        const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        if (found == nullptr) break;
        ++count;
        at = static_cast<const char*>(found) + 1;
    }
    return count;
}

namespace {

// What the lines of readTrace refer into: the trace's text and its decoded values.
struct HeldTrace {
    std::string text;
    DecodedValues decoded;
};

ReadTrace readHeld(const std::shared_ptr<HeldTrace>& held) {
    ReadTrace read;
    // One line a line break.
    read.lines.reserve(lineBreaks(held->text));
    read.error = forEachLine(held->text, held->decoded, [&](const RecordedLine& line) {
        RecordedLine& kept = read.lines.emplace_back();
        kept.number = line.number;
        kept.text = line.text;
        kept.milliseconds = line.milliseconds;
        kept.pid = line.pid;
        kept.event = line.event;
        kept.fields.assign(line.fields.begin(), line.fields.end());
        kept.held = held;
    });
    if (read.error) read.lines.clear();
    return read;
}

}  // namespace

ReadTrace readTrace(std::string_view text) { return readHeld(std::make_shared<HeldTrace>(HeldTrace{std::string(text), {}})); }

ReadTrace readTrace(std::string&& text) { return readHeld(std::make_shared<HeldTrace>(HeldTrace{std::move(text), {}})); }

}  // namespace trace
