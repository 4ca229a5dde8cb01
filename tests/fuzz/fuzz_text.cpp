// Fuzz target: the answer check and the 300-character cut of a rejected answer.
//
// Input: one byte `k` (a cut length), one byte `n`, then `n` bytes of command id, then the alert
// text (the rest). Both are arbitrary bytes, invalid UTF-8 included. The target runs the check
// exactly as the hand-off does and then tests properties that hold for every text:
//
// - firstCharacters(t, n) is a byte prefix of t, grows with n until it is t, cuts on boundaries
//   that a shorter cut keeps (cutting a cut changes nothing), and is t for a huge n.
// - A cut is where the text begins: beginsWith(t, firstCharacters(t, n)); whatever a text begins
//   with it contains.
// - equal is reflexive and symmetric, and two texts are equal exactly when each begins with the
//   other.
// - Canonically equivalent spellings (each valid stretch in NFC or NFD) are equal and get the
//   same answer from every check, for the text and for the id.
// - A well-formed answer (the markers set off by control characters, any id, any body) is
//   accepted; with a space before it, it is not.
// - A stray byte equals only itself and ends a character: an id followed by 0xFF begins a text
//   that has the same id and 0xFF, not one that has 0xFE there.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <utf8proc.h>

#include "tests/fuzz/violation.h"
#include "text/unicode.h"

namespace {

using fuzz::require;

constexpr std::size_t kReported = 300;
constexpr std::size_t kHuge = static_cast<std::size_t>(-1);

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool accepted(std::string_view text, std::string_view commandId) {
    const std::string id(commandId);
    return text::beginsWith(text, "TALVO_RELAY_BEGIN_" + id) && text::contains(text, "TALVO_RELAY_END_" + id);
}

bool isValidUtf8(std::string_view s) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    utf8proc_ssize_t at = 0;
    const auto size = static_cast<utf8proc_ssize_t>(s.size());
    while (at < size) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &c);
        if (length <= 0) return false;
        at += length;
    }
    return true;
}

// The text with every stretch of valid UTF-8 brought into one normal form and every stray byte
// left where it is: canonically equivalent to the text.
std::string normalised(std::string_view s, utf8proc_option_t form) {
    std::string out;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    const auto size = static_cast<utf8proc_ssize_t>(s.size());
    auto flush = [&](utf8proc_ssize_t from, utf8proc_ssize_t to) {
        if (from == to) return;
        utf8proc_uint8_t* mapped = nullptr;
        const utf8proc_ssize_t length =
            utf8proc_map(bytes + from, to - from, &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | form));
        require(length >= 0, "utf8proc normalises a valid stretch", {s.substr(static_cast<std::size_t>(from))});
        out.append(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
        std::free(mapped);
    };
    utf8proc_ssize_t runStart = 0;
    utf8proc_ssize_t at = 0;
    while (at < size) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &c);
        if (length > 0) {
            at += length;
            continue;
        }
        flush(runStart, at);
        out += static_cast<char>(bytes[at]);
        runStart = ++at;
    }
    flush(runStart, at);
    return out;
}

void checkCuts(std::string_view t, std::size_t k) {
    require(text::firstCharacters(t, 0).empty(), "no characters cut is empty", {t});
    require(text::firstCharacters(t, kHuge) == t, "a huge cut is the whole text", {t});
    const bool valid = isValidUtf8(t);
    for (const std::size_t n : {std::size_t{1}, std::size_t{2}, k, k + 1, kReported}) {
        const std::string_view cut = text::firstCharacters(t, n);
        const std::string_view longer = text::firstCharacters(t, n + 1);
        require(startsWith(t, cut), "a cut is a byte prefix", {t, cut});
        require(startsWith(longer, cut), "a cut is a prefix of the next longer cut", {t, cut, longer});
        require(t.empty() || n == 0 || !cut.empty(), "a cut of a non-empty text is not empty", {t});
        require(cut != longer || cut == t, "a cut stops growing only at the whole text", {t, cut});
        require(text::firstCharacters(cut, n) == cut, "cutting a cut again changes nothing", {t, cut});
        require(text::firstCharacters(longer, n) == cut, "a cut keeps the boundaries of the text", {t, cut, longer});
        require(text::beginsWith(t, cut), "a text begins with its own cut", {t, cut});
        require(text::contains(t, cut), "a text contains its own cut", {t, cut});
        if (valid && cut != t) {
            // What follows the cut cannot move a boundary that lies before the text's end.
            const std::string extended = std::string(t) + "\xCC\x81\xE2\x80\x8D";
            require(text::firstCharacters(extended, n) == cut, "appending keeps an inner cut", {t, cut});
        }
    }
}

void checkEquality(std::string_view a, std::string_view b) {
    require(text::equal(a, a), "equal is reflexive", {a});
    const bool ab = text::equal(a, b);
    require(ab == text::equal(b, a), "equal is symmetric", {a, b});
    const bool bothWays = text::beginsWith(a, b) && text::beginsWith(b, a);
    require(ab == bothWays, "equal exactly when each begins with the other", {a, b});
    if (ab) require(text::contains(a, b) && text::contains(b, a), "equal texts contain each other", {a, b});
}

void checkPrefixes(std::string_view t, std::string_view x) {
    if (text::beginsWith(t, x)) require(text::contains(t, x), "a text contains what it begins with", {t, x});
}

void checkEquivalentSpellings(std::string_view t, std::string_view id, std::size_t k) {
    const std::string marker = "TALVO_RELAY_BEGIN_" + std::string(id);
    const std::string endMarker = "TALVO_RELAY_END_" + std::string(id);
    const std::string_view cut = text::firstCharacters(t, k);
    for (const utf8proc_option_t form : {UTF8PROC_COMPOSE, UTF8PROC_DECOMPOSE}) {
        const std::string t2 = normalised(t, form);
        const std::string id2 = normalised(id, form);
        require(text::equal(t, t2), "a text equals its normalised spelling", {t, t2});
        require(text::equal(id, id2), "an id equals its normalised spelling", {id, id2});
        for (const std::string_view x : {std::string_view(marker), std::string_view(endMarker), id, cut}) {
            require(text::beginsWith(t2, x) == text::beginsWith(t, x), "beginsWith ignores the spelling", {t, t2, x});
            require(text::contains(t2, x) == text::contains(t, x), "contains ignores the spelling", {t, t2, x});
        }
        require(accepted(t2, id) == accepted(t, id), "the answer check ignores the text's spelling", {t, t2, id});
        require(accepted(t, id2) == accepted(t, id), "the answer check ignores the id's spelling", {t, id, id2});
    }
}

void checkWellFormedAnswers(std::string_view body, std::string_view id) {
    const std::string idText(id);
    // A control character always starts a character of its own, and none of the id's marks can
    // be reordered across it: the markers stand on boundaries, whatever the id and the body hold.
    const std::string answer =
        "TALVO_RELAY_BEGIN_" + idText + "\x01" + std::string(body) + "\x01TALVO_RELAY_END_" + idText + "\x01";
    require(accepted(answer, id), "a well-formed answer is accepted", {answer, id});
    require(!accepted(" " + answer, id), "a blank before the begin marker is rejected", {answer, id});
    const std::string framed = std::string(body) + "\x01" + idText + "\x01" + std::string(body);
    require(text::contains(framed, id), "an id set off by controls is found", {framed, id});
    require(text::beginsWith(idText + "\x01" + std::string(body), id), "an id before a control begins the text",
            {body, id});
}

void checkStrayBytes(std::string_view t, std::string_view id) {
    const std::string idText(id);
    const std::string withFF = idText + "\xFF" + std::string(t);
    const std::string withFE = idText + "\xFE" + std::string(t);
    require(text::beginsWith(withFF, idText + "\xFF"), "a stray byte ends a character", {withFF, id});
    require(!text::beginsWith(withFE, idText + "\xFF"), "a stray byte equals only itself", {withFE, id});
    require(!text::equal(std::string(t) + "\xFF", std::string(t) + "\xFE"), "different stray bytes differ", {t});
    require(text::equal(std::string(t) + "\xFF", idText + "\xFF") == text::equal(t, id),
            "a stray byte at the end changes nothing else", {t, id});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t k = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
    const std::size_t idLength = input.size() < 2 ? 0 : static_cast<unsigned char>(input[1]);
    const std::string_view rest = input.substr(std::min<std::size_t>(2, input.size()));
    const std::string_view id = rest.substr(0, idLength);
    const std::string_view t = rest.substr(id.size());

    // The check as the hand-off makes it, and the report of a rejected answer.
    const bool isAnswer = accepted(t, id);
    const std::string_view report = text::firstCharacters(t, kReported);
    require(isAnswer || startsWith(t, report), "the report is the text's beginning", {t, report});

    checkCuts(t, k);
    checkCuts(id, k);
    checkEquality(t, id);
    checkEquality(t, text::firstCharacters(t, k));
    for (const std::string_view x : {id, text::firstCharacters(t, k), text::firstCharacters(id, k), std::string_view{}}) {
        checkPrefixes(t, x);
    }
    require(text::beginsWith(t, "") && text::contains(t, ""), "every text begins with and contains the empty text", {t});
    require(text::beginsWith(t, t) && text::contains(t, t), "every text begins with and contains itself", {t});
    checkEquivalentSpellings(t, id, k);
    checkWellFormedAnswers(t, id);
    checkStrayBytes(t, id);
    return 0;
}
