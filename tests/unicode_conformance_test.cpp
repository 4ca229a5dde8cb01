// The text rules against the Unicode Character Database's own test files: every line of
// GraphemeBreakTest.txt through the cut (firstCharacters) and the begin test, every line of
// NormalizationTest.txt through equal.
//
// The files come from Debian's unicode-data package (scripts/setup installs it), in
// /usr/share/unicode, or from the directory named by TESSARY_UNICODE_DATA (laid out the same
// way: auxiliary/GraphemeBreakTest.txt and NormalizationTest.txt or NormalizationTest.txt.bz2).
// A missing file is a failure, never a skip. The files must be of the Unicode version that
// utf8proc implements: Debian 12 ships unicode-data 15.0.0 and libutf8proc 2.8.0, which
// implements Unicode 15.0, so both speak of the same characters; the tests check that, since
// rules of another version would break lines for reasons that are not ours.
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <utf8proc.h>

namespace {

using CodePoints = std::vector<char32_t>;

std::string dataDirectory() {
    const char* directory = std::getenv("TESSARY_UNICODE_DATA");
    return directory != nullptr && *directory != '\0' ? directory : "/usr/share/unicode";
}

// The file's whole text, read directly or through bzip2; nothing when neither works.
std::optional<std::string> readDataFile(const std::string& path) {
    if (std::ifstream in(path, std::ios::binary); in) {
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const std::string compressed = path + ".bz2";
    if (!std::ifstream(compressed)) return std::nullopt;
    std::FILE* pipe = ::popen(("bzip2 -dc '" + compressed + "'").c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    if (::pclose(pipe) != 0 || text.empty()) return std::nullopt;
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// "15.0.0" from a first line such as "# GraphemeBreakTest-15.0.0.txt".
std::string versionOf(const std::string& firstLine) {
    const auto dash = firstLine.find('-');
    const auto end = firstLine.rfind(".txt");
    if (dash == std::string::npos || end == std::string::npos || end < dash) return "?";
    return firstLine.substr(dash + 1, end - dash - 1);
}

std::string utf8(const CodePoints& codePoints) {
    std::string out;
    for (const char32_t c : codePoints) {
        utf8proc_uint8_t bytes[4];
        const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    }
    return out;
}

CodePoints parseCodePoints(const std::string& field) {
    CodePoints out;
    std::istringstream in(field);
    for (std::string hex; in >> hex;) out.push_back(static_cast<char32_t>(std::stoul(hex, nullptr, 16)));
    return out;
}

std::string hexOf(const CodePoints& codePoints) {
    std::string out;
    for (const char32_t c : codePoints) {
        char hex[12];
        std::snprintf(hex, sizeof hex, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
        out += hex;
    }
    return out;
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// One line of GraphemeBreakTest.txt: the code points, and after each of them whether a
// character boundary follows.
struct BreakLine {
    CodePoints codePoints;
    std::vector<bool> breakAfter;
};

std::optional<BreakLine> parseBreakLine(std::string line) {
    line = line.substr(0, line.find('#'));
    std::istringstream in(line);
    BreakLine parsed;
    for (std::string token; in >> token;) {
        if (token == "\u00F7" || token == "\u00D7") {
            if (!parsed.codePoints.empty()) parsed.breakAfter.push_back(token == "\u00F7");
        } else {
            parsed.codePoints.push_back(static_cast<char32_t>(std::stoul(token, nullptr, 16)));
        }
    }
    if (parsed.codePoints.empty() || parsed.breakAfter.size() != parsed.codePoints.size()) return std::nullopt;
    return parsed;
}

TEST(UnicodeConformance, GraphemeBreakTestCutsAndBeginsOnEveryBoundary) {
    const std::string path = dataDirectory() + "/auxiliary/GraphemeBreakTest.txt";
    const auto file = readDataFile(path);
    ASSERT_TRUE(file.has_value()) << path << " cannot be read; scripts/setup installs it (Debian package unicode-data)";
    const std::vector<std::string> all = lines(*file);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(versionOf(all.front()), utf8proc_unicode_version()) << "the test file and utf8proc disagree on the version";

    int checked = 0;
    int cuts = 0;
    for (const std::string& line : all) {
        if (line.empty() || line[0] == '#') continue;
        const auto parsed = parseBreakLine(line);
        ASSERT_TRUE(parsed.has_value()) << "cannot read: " << line;
        // A lone surrogate has no UTF-8 form; its bytes would be stray bytes, characters of their own.
        if (std::any_of(parsed->codePoints.begin(), parsed->codePoints.end(), isSurrogate)) continue;
        ++checked;
        const std::string text = utf8(parsed->codePoints);
        std::size_t characters = 0;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < parsed->codePoints.size(); ++i) {
            bytes += utf8({parsed->codePoints[i]}).size();
            const std::string prefix = text.substr(0, bytes);
            if (parsed->breakAfter[i]) {
                ++characters;
                ++cuts;
                EXPECT_EQ(text::firstCharacters(text, characters), prefix) << line;
            }
            // Under canonical equivalence too, a text begins with a prefix only on a boundary.
            EXPECT_EQ(text::beginsWith(text, prefix), parsed->breakAfter[i]) << "after " << i + 1 << ": " << line;
        }
        EXPECT_EQ(text::firstCharacters(text, characters + 1), text) << line;
    }
    EXPECT_GT(checked, 0);
    std::printf("GraphemeBreakTest.txt: %d lines checked, %d cuts\n", checked, cuts);
}

// One line of NormalizationTest.txt: c1 to c5, and the part it belongs to.
struct NormalizationLine {
    CodePoints c[5];
    int part = 0;
};

std::vector<NormalizationLine> normalizationLines(const std::vector<std::string>& all) {
    std::vector<NormalizationLine> out;
    int part = -1;
    for (const std::string& raw : all) {
        if (raw.empty() || raw[0] == '#') continue;
        if (raw[0] == '@') {
            part = raw[5] - '0';  // "@Part1 # ..."
            continue;
        }
        const std::string line = raw.substr(0, raw.find('#'));
        NormalizationLine parsed;
        parsed.part = part;
        std::istringstream in(line);
        std::string field;
        for (CodePoints& c : parsed.c) {
            std::getline(in, field, ';');
            c = parseCodePoints(field);
        }
        out.push_back(std::move(parsed));
    }
    return out;
}

TEST(UnicodeConformance, NormalizationTestEqualExactlyWhenTheCanonicalFormsAgree) {
    const std::string path = dataDirectory() + "/NormalizationTest.txt";
    const auto file = readDataFile(path);
    ASSERT_TRUE(file.has_value()) << path << "(.bz2) cannot be read; scripts/setup installs it (Debian packages "
                                  << "unicode-data and bzip2)";
    const std::vector<std::string> all = lines(*file);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(versionOf(all.front()), utf8proc_unicode_version()) << "the test file and utf8proc disagree on the version";
    const std::vector<NormalizationLine> parsed = normalizationLines(all);

    // c1, c2 and c3 are canonically equivalent, with c3 their NFD; c4 and c5 likewise, with
    // c5 their NFD. Equal means equal NFD forms: c1 equals c4 only where the compatibility
    // decomposition changes nothing.
    std::size_t pairs = 0;
    for (const NormalizationLine& line : parsed) {
        const CodePoints* nfd[5] = {&line.c[2], &line.c[2], &line.c[2], &line.c[4], &line.c[4]};
        for (int i = 0; i < 5; ++i) {
            for (int j = i + 1; j < 5; ++j) {
                ++pairs;
                EXPECT_EQ(text::equal(utf8(line.c[i]), utf8(line.c[j])), *nfd[i] == *nfd[j])
                    << "c" << i + 1 << " vs c" << j + 1 << ": " << hexOf(line.c[0]) << " (part " << line.part << ")";
            }
        }
    }

    // Every character that part 1 does not list is its own NFD. So it equals another single
    // character only when that one's NFD is exactly it (KELVIN SIGN and K), and never a longer
    // sequence that starts with it (A and A WITH RING ABOVE), a neighbour, its other case, or
    // nothing.
    std::map<char32_t, CodePoints> decomposition;
    std::multimap<char32_t, char32_t> startingWith;
    for (const NormalizationLine& line : parsed) {
        if (line.part != 1) continue;
        decomposition[line.c[0].front()] = line.c[2];
        startingWith.emplace(line.c[2].front(), line.c[0].front());
    }
    ASSERT_GT(decomposition.size(), 10000u);
    auto nfdOf = [&](char32_t c) {
        const auto found = decomposition.find(c);
        return found == decomposition.end() ? CodePoints{c} : found->second;
    };
    std::size_t characters = 0;
    std::size_t comparisons = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (isSurrogate(c) || decomposition.count(c) != 0) continue;
        ++characters;
        const std::string self = utf8({c});
        EXPECT_FALSE(text::equal(self, "")) << hexOf({c});
        std::set<char32_t> others;
        const auto code = static_cast<utf8proc_int32_t>(c);
        const char32_t candidates[] = {c - 1, c + 1, static_cast<char32_t>(utf8proc_tolower(code)),
                                       static_cast<char32_t>(utf8proc_toupper(code))};
        for (const char32_t other : candidates) {
            if (other != c && other <= 0x10FFFF && !isSurrogate(other)) others.insert(other);
        }
        for (auto [at, end] = startingWith.equal_range(c); at != end; ++at) others.insert(at->second);
        for (const char32_t other : others) {
            ++comparisons;
            EXPECT_EQ(text::equal(self, utf8({other})), nfdOf(other) == CodePoints{c}) << hexOf({c}) << " vs " << hexOf({other});
        }
    }
    std::printf("NormalizationTest.txt: %zu lines checked (%zu pairs), %zu characters outside part 1 (%zu comparisons)\n",
                parsed.size(), pairs, characters, comparisons);
}

}  // namespace
