#include "text/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct Pair {
    std::string a;
    std::string b;
    bool expected;
};

TEST(TextEqual, CanonicalEquivalenceCaseSensitiveNothingTrimmed) {
    const Pair cases[] = {
        {"OK", "OK", true},
        {"OK", "O\u212A", true},                  // KELVIN SIGN is canonically K
        {"\u00E9", "e\u0301", true},              // composed and decomposed
        {"a\u0301\u0316", "a\u0316\u0301", true},  // combining marks in either order
        {"\uAC00", "\u1100\u1161", true},         // Hangul syllable and its jamo
        {"OK", "ok", false},
        {"OK", "Ok", false},
        {"OK", "OK ", false},
        {"OK", " OK", false},
        {"\u8B66\u544A", "\u8B66\u544A", true},
        {"\u8B66\u544A", "\u8B66\u544A ", false},
        {"\u00C5", "\u212B", true},  // ANGSTROM SIGN
        {"", "", true},
        {"", " ", false},
        {"a\0b"s, "a\0b"s, true},
        {"a\0b"s, "a"s, false},
        {"\xff", "\xff", true},       // a stray byte equals only itself
        {"\xff", "\xfe", false},
        {"\xff", "\uFFFD", false},
        {"e\xff\u0301", "\u00E9\xff", false},  // no reordering across a stray byte
    };
    for (const Pair& c : cases) {
        EXPECT_EQ(text::equal(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
        EXPECT_EQ(text::equal(c.b, c.a), c.expected) << "symmetric: \"" << c.b << "\" vs \"" << c.a << '"';
    }
}

TEST(TextBeginsWith, MatchEndsOnACharacterBoundary) {
    const Pair cases[] = {
        {"TALVO_RELAY_BEGIN_42 rest", "TALVO_RELAY_BEGIN_42", true},
        {"TALVO_RELAY_BEGIN_42", "TALVO_RELAY_BEGIN_42", true},
        {"TALVO_RELAY_BEGIN_42\u0301", "TALVO_RELAY_BEGIN_42", false},  // last character is 2 with an accent
        {"TALVO_RELAY_BEGIN_caf\u00E9!", "TALVO_RELAY_BEGIN_cafe\u0301", true},
        {"TALVO_RELAY_BEGIN_cafe\u0301!", "TALVO_RELAY_BEGIN_caf\u00E9", true},
        {"TALVO_RELAY_BEGIN_cafe", "TALVO_RELAY_BEGIN_caf\u00E9", false},
        {" TALVO_RELAY_BEGIN_42", "TALVO_RELAY_BEGIN_42", false},
        {"\nTALVO_RELAY_BEGIN_42", "TALVO_RELAY_BEGIN_42", false},
        {"talvo_relay_begin_42", "TALVO_RELAY_BEGIN_42", false},
        {"TALVO_RELAY_BEGIN_", "TALVO_RELAY_BEGIN_42", false},
        {"TALVO_RELAY_BEGIN_420", "TALVO_RELAY_BEGIN_42", true},  // no delimiter follows the id
        {"TALVO\r\n", "TALVO\r", false},                          // CR LF is one character
        {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", "\U0001F1E9\U0001F1EA", true},  // two flags
        {"\U0001F1E9\U0001F1EA", "\U0001F1E9", false},                                  // half a flag
        {"\U0001F469\u200D\U0001F4BB x", "\U0001F469", false},                          // part of a ZWJ sequence
        {"anything", "", true},
        {"id\xff" "after", "id\xff", true},
        {"id\xfe" "after", "id\xff", false},
        {"x\0y"s, "x\0"s, true},
    };
    for (const Pair& c : cases) EXPECT_EQ(text::beginsWith(c.a, c.b), c.expected) << '"' << c.a << "\" / \"" << c.b << '"';
}

TEST(TextContains, EveryOccurrenceIsTriedAndMustSitOnBoundaries) {
    const Pair cases[] = {
        {"x TALVO_RELAY_END_7 y", "TALVO_RELAY_END_7", true},
        {"TALVO_RELAY_END_7", "TALVO_RELAY_END_7", true},
        {"TALVO_RELAY_END_7\u0301", "TALVO_RELAY_END_7", false},
        // The first occurrence ends inside a character, the second does not.
        {"TALVO_RELAY_END_7\u0301 TALVO_RELAY_END_7", "TALVO_RELAY_END_7", true},
        // An occurrence that starts inside a character (after a ZWJ) does not count.
        {"\U0001F469\u200D\u2764 end", "\u2764", false},
        {"a\u0301bc", "\u0301bc", false},
        {"caf\u00E9 au lait", "cafe\u0301", true},
        {"TALVO_RELAY_END_", "TALVO_RELAY_END_7", false},
        {"talvo_relay_end_7", "TALVO_RELAY_END_7", false},
        {"aaaaab", "aab", true},  // overlapping partial matches
        {"abababac", "ababac", true},
        {"\r\nEND", "\nEND", false},
        {"x\0END"s, "\0END"s, true},
        {"", "", true},
        {"abc", "", true},
    };
    for (const Pair& c : cases) EXPECT_EQ(text::contains(c.a, c.b), c.expected) << '"' << c.a << "\" / \"" << c.b << '"';
}

TEST(TextContains, LongTextAndLongNeedleStayLinear) {
    // A naive search would compare a million-character needle at every one of two million
    // places; this must finish at once.
    const std::string needle = std::string(1'000'000, 'a') + "b";
    const std::string haystack = std::string(2'000'000, 'a') + "b";
    EXPECT_TRUE(text::contains(haystack, needle));
    EXPECT_FALSE(text::contains(std::string(2'000'000, 'a'), needle));
}

struct Cut {
    std::string text;
    std::size_t count;
    std::string expected;
};

TEST(TextFirstCharacters, CountsGraphemeClustersAndKeepsBytes) {
    const std::string flag = "\U0001F1E9\U0001F1EA";
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const Cut cases[] = {
        {"abc", 2, "ab"},
        {"abc", 3, "abc"},
        {"abc", 300, "abc"},
        {"", 300, ""},
        {"abc", 0, ""},
        {"e\u0301\u0316x", 1, "e\u0301\u0316"},  // marks stay with their letter, in their order
        {flag + flag + flag, 2, flag + flag},
        {family + "x", 1, family},
        {"a\r\nb", 2, "a\r\n"},
        {"\u1100\u1161\u11A8z", 1, "\u1100\u1161\u11A8"},  // a Hangul syllable from jamo
        {"\xff\xfe" "a", 2, "\xff\xfe"},                    // a stray byte counts as one character
        {"a\0b"s, 2, "a\0"s},
    };
    for (const Cut& c : cases) {
        EXPECT_EQ(text::firstCharacters(c.text, c.count), c.expected) << '"' << c.text << "\" " << c.count;
    }
}

TEST(TextFirstCharacters, ThreeHundredOfALongerText) {
    std::string text;
    std::string first300;
    for (int i = 0; i < 400; ++i) {
        const std::string character = i % 3 == 0 ? "e\u0301" : i % 3 == 1 ? "\U0001F1EB\U0001F1F7" : "x";
        text += character;
        if (i < 300) first300 += character;
    }
    EXPECT_EQ(text::firstCharacters(text, 300), first300);
}

}  // namespace
