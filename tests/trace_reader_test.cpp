// The reader of the trace format: every kind of value the writer writes reads back, and a line
// the writer never writes is refused with its number and what is wrong with it.
#include "trace/reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace {

TEST(TraceReader, ReadsEveryKindOfValueTheWriterWrites) {
    const std::string text =
        "0.000 41 start version=2 argc=3 arg=\"tessary\" arg=\"1\" arg=\"/tmp/r\"\n"
        "1.691 41 applications bundle=\"com.corel.coreldrawsuite.2022.coreldraw\" found=[1,2] took=0.298\n"
        "3.373 41 get element=#1 attribute=\"AXWindows\" code=0 kind=list value=[#2,#3] took=0.076\n"
        "3.373 41 get element=#1 attribute=\"AXWindows\" code=0 kind=list value=[] took=0.076\n"
        "3.450 41 get element=#2 attribute=\"AXDescription\" code=-25212 kind=text value=\"\\u0085\\x01\\xff\\\"\" took=0.029\n"
        "3.450 41 get element=#2 attribute=\"AXTitle\" code=0 kind=text value=\"a\\u2028b\\u2029c\\u0080\\u009f\xC2\xA0\" took=0.029\n"
        "3.450 41 get element=#2 attribute=\"AXFrontmost\" code=0 kind=boolean value=yes took=0.029\n"
        "3.450 41 get element=#2 attribute=\"AXFocused\" code=0 kind=other took=0.029\n"
        "3.450 41 get element=#2 attribute=\"AXParent\" code=0 kind=element value=#9 took=0.029\n"
        "208.241 41 get element=#13 attribute=\"AXPosition\" code=0 kind=point value=1e+21,nan took=0.180\n"
        "209.179 41 owner-at point=188,-165.5 occupant=process pid=4368 took=0.250\n"
        "209.179 41 owner-at point=188,165.5 occupant=unknown took=0.250\n"
        "209.438 41 create-event kind=key key=53 down=no created=no took=0.003\n"
        "209.443 41 post event=1 kind=mouse type=down point=188,165.5 button=left took=0.162\n"
        "816.740 41 write path=\"/tmp/r\" bytes=3 text=\"a\\nb\" outcome=error error=\"No such file\" took=1.618\n"
        "820.427 41 end status=1 failure=\"TESSARY: no\\n\"\n";
    const trace::ReadTrace read = trace::readTrace(text);
    ASSERT_EQ(read.error, std::nullopt);
    ASSERT_EQ(read.lines.size(), 16u);
    EXPECT_EQ(read.lines[4].fields[4].value, "\xC2\x85\x01\xFF\"");
    // U+2028 and U+2029 as the writer writes them, and the C1 controls at both ends of their
    // range; U+00A0, just above it, stands as it is.
    EXPECT_EQ(read.lines[5].field("value")->value, "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c\xC2\x80\xC2\x9F\xC2\xA0");
    EXPECT_EQ(read.lines[14].field("text")->value, "a\nb");
    EXPECT_EQ(read.lines[15].field("failure")->value, "TESSARY: no\n");
    EXPECT_EQ(read.lines[14].number, 15u);
    EXPECT_EQ(read.lines[10].event, "owner-at");
    EXPECT_EQ(read.lines[10].pid, 41);
    EXPECT_EQ(read.lines[9].milliseconds, "208.241");
}

// The activation's answer came with version 3; a version-2 line, without it, still reads.
TEST(TraceReader, ReadsTheActivationWithAndWithoutItsAnswer) {
    const std::string text =
        "3.502 41 activate application=1 allowed=yes took=1.414\n"
        "3.502 41 activate application=1 allowed=no took=1.414\n"
        "3.502 41 activate application=1 allowed=unknown took=1.414\n"
        "3.502 41 activate application=1 took=1.414\n";
    const trace::ReadTrace read = trace::readTrace(text);
    ASSERT_EQ(read.error, std::nullopt);
    ASSERT_EQ(read.lines.size(), 4u);
    EXPECT_EQ(read.lines[0].field("allowed")->value, "yes");
    EXPECT_EQ(read.lines[1].field("allowed")->value, "no");
    EXPECT_EQ(read.lines[2].field("allowed")->value, "unknown");
    EXPECT_EQ(read.lines[3].field("allowed"), nullptr);
}

// The program's version came with version 5, right after the format's version; a start line
// of an older trace, without it, still reads, with or without a tool.
TEST(TraceReader, ReadsTheStartWithAndWithoutTheProgramsVersion) {
    const std::string text =
        "0.000 41 start version=5 build=\"0.1.0 (4544b81)\" argc=1 arg=\"tessary\"\n"
        "0.000 42 start version=5 build=\"0.1.0 (unknown)\" tool=doctor argc=1 arg=\"tessary-doctor\"\n"
        "0.000 43 start version=4 tool=doctor argc=1 arg=\"tessary-doctor\"\n"
        "0.000 44 start version=2 argc=1 arg=\"tessary\"\n";
    const trace::ReadTrace read = trace::readTrace(text);
    ASSERT_EQ(read.error, std::nullopt);
    ASSERT_EQ(read.lines.size(), 4u);
    EXPECT_EQ(read.lines[0].field("build")->value, "0.1.0 (4544b81)");
    EXPECT_EQ(read.lines[1].field("build")->value, "0.1.0 (unknown)");
    EXPECT_EQ(read.lines[1].field("tool")->value, "doctor");
    EXPECT_EQ(read.lines[2].field("build"), nullptr);
    EXPECT_EQ(read.lines[3].field("build"), nullptr);
    EXPECT_EQ(read.lines[3].field("arg")->value, "tessary");
    // Where the writer never writes it, or bare, it is refused.
    const struct {
        const char* line;
        const char* error;
    } wrong[] = {
        {"0.000 41 start version=5 tool=doctor build=\"0.1.0 (x)\" argc=0\n", "expected argc= where build= stands"},
        {"0.000 41 start version=5 build=0.1.0 argc=0\n", "build= must be a quoted text"},
    };
    for (const auto& c : wrong) {
        SCOPED_TRACE(c.line);
        const trace::ReadTrace refused = trace::readTrace(std::string_view(c.line));
        EXPECT_EQ(refused.error, std::string("trace line 1: ") + c.error);
    }
}

TEST(TraceReader, NamesTheLineAndWhatIsWrongWithIt) {
    const std::string good = "0.000 41 trust trusted=yes took=0.010\n";
    const struct {
        std::string line;
        std::string report;
    } cases[] = {
        {"0.000 41 trust trusted=yes took=0.010", "it has no line break (a run cut short?)"},
        {"0.0 41 trust trusted=yes took=0.010\n", "no time in milliseconds with three decimals at its start"},
        {"00.000 41 trust trusted=yes took=0.010\n", "no time in milliseconds with three decimals at its start"},
        {"0.000 x trust trusted=yes took=0.010\n", "no process id after the time"},
        {"0.000 041 trust trusted=yes took=0.010\n", "no process id after the time"},
        {"0.000 41 Trust trusted=yes took=0.010\n", "no event name"},
        {"0.000 41 focus took=0.010\n", "unknown event \"focus\""},
        {"0.000 41 trust trusted=maybe took=0.010\n", "trusted= is not yes or no"},
        {"0.000 41 trust took=0.010\n", "expected trusted= where took= stands"},
        {"0.000 41 trust trusted=yes\n", "expected took= at the end of the line"},
        {"0.000 41 trust trusted=yes took=0.010 extra=1\n", "unexpected extra= after the event's fields"},
        {"0.000 41 trust trusted=yes  took=0.010\n", "a field that is not key=value"},
        {"0.000 41 trust trusted=yes took=0.010 \n", "fields are not separated by single blanks"},
        {"0.000 41 get element=7 attribute=\"AXRole\" code=0 kind=absent took=0.010\n", "element= is not an element number"},
        {"0.000 41 get element=#7 attribute=AXRole code=0 kind=absent took=0.010\n", "attribute= must be a quoted text"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=number took=0.010\n", "kind= is not a known word"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=-0 kind=absent took=0.010\n", "code= is not a decimal integer"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=list value=[1] took=0.010\n",
         "value= is not a list of element numbers"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=list value=[#1,] took=0.010\n",
         "value= is not a list of element numbers"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=point value=1 took=0.010\n", "value= is not a pair of numbers"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=point value=+1,2 took=0.010\n",
         "value= is not a pair of numbers"},
        {"0.000 41 get element=#7 attribute=\"AX\\xC3\" code=0 kind=absent took=0.010\n",
         "a \\x escape without two lower-case hex digits"},
        {"0.000 41 get element=#7 attribute=\"AX\\x41\" code=0 kind=absent took=0.010\n",
         "a \\x escape of a byte that is written otherwise"},
        {"0.000 41 get element=#7 attribute=\"AX\\u00e9\" code=0 kind=absent took=0.010\n",
         "a \\u escape of a code point that is not written so"},
        {"0.000 41 get element=#7 attribute=\"AX\xFF\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 get element=#7 attribute=\"AXRole code=0 kind=absent took=0.010\n",
         "a quoted text without its closing quotation mark"},
        {"0.000 41 applications bundle=\"b\" found=[#1] took=0.010\n", "found= is not a list of numbers"},
        {"0.000 41 start version=2 argc=2 arg=\"tessary\"\n", "argc= does not match the number of arg= fields"},
        {"0.000 41 sleep us=010 took=0.010\n", "us= is not a number from 0"},
        {"0.000 41 sleep us=+10 took=0.010\n", "us= is not a number from 0"},
        {"0.000 41 end status=2\n", "status= is not a known word"},
        {"0.000 41 create-event kind=mouse type=down point=1,2 button=left created=yes took=0.010\n",
         "expected event= where took= stands"},
        {"0.000 41 post event=1 took=0.010\n", "expected kind= where took= stands"},
        {"0.000 41 write path=\"/r\" bytes=3 outcome=ok took=0.010\n", "expected text= where outcome= stands"},
        // Numbers only as the writer writes them: a double never with a plus sign, a count never
        // below 0, an element number from #0, a duration with exactly three decimals.
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=size value=1,+2 took=0.010\n",
         "value= is not a pair of numbers"},
        {"0.000 41 owner-at point=+188,165.5 occupant=nothing took=0.010\n", "point= is not a pair of numbers"},
        {"0.000 41 post event=1 kind=mouse type=down point=188,+165.5 button=left took=0.010\n", "point= is not a pair of numbers"},
        {"0.000 41 sleep us=-10 took=0.010\n", "us= is not a number from 0"},
        {"0.000 41 write path=\"/r\" bytes=-1 text=\"\" outcome=ok took=0.010\n", "bytes= is not a number from 0"},
        {"0.000 41 get element=#-1 attribute=\"AXRole\" code=0 kind=absent took=0.010\n", "element= is not an element number"},
        {"0.000 41 get element=#7 attribute=\"AXRole\" code=0 kind=list value=[#2,#-1] took=0.010\n",
         "value= is not a list of element numbers"},
        {"0.000 41 trust trusted=yes took=0.0100\n", "took= is not milliseconds"},
        // What some readers take for a line break stands escaped, never raw: C1 controls (U+0085
        // NEXT LINE, U+0080, U+009F) and U+2028, U+2029.
        {"0.000 41 get element=#7 attribute=\"AX\xC2\x85\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 get element=#7 attribute=\"AX\xC2\x80\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 get element=#7 attribute=\"AX\xC2\x9F\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 get element=#7 attribute=\"AX\xE2\x80\xA8\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 get element=#7 attribute=\"AX\xE2\x80\xA9\" code=0 kind=absent took=0.010\n",
         "a byte in a quoted text that is written escaped"},
        {"0.000 41 activate application=1 allowed=maybe took=0.010\n", "allowed= is not a known word"},
        {"0.000 41 activate application=1 took=0.010 allowed=yes\n", "unexpected allowed= after the event's fields"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const trace::ReadTrace read = trace::readTrace(good + c.line);
        EXPECT_EQ(read.error, "trace line 2: " + c.report);
        EXPECT_TRUE(read.lines.empty());
    }
}

// The numbers of a pair: the forms that std::to_chars writes, read to the double that was
// written; nothing that std::from_chars would refuse, also beyond the range of a double.
TEST(TraceReader, ReadsNumbersAsFromCharsDoes) {
    const double maximum = std::numeric_limits<double>::max();
    const double smallest = std::numeric_limits<double>::denorm_min();
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"188", 188.0},
        {"-165.5", -165.5},
        {"0.1", 0.1},
        {"1e+21", 1e21},
        {"1E5", 1e5},
        {".5", 0.5},
        {"5.", 5.0},
        {"1.7976931348623157e+308", maximum},
        {"2.2250738585072014e-308", std::numeric_limits<double>::min()},
        {"5e-324", smallest},
        {"9007199254740993", 9007199254740992.0},  // halfway: to the even neighbour
        {"0e400", 0.0},
        // Zero written with an exponent of either letter, also one far beyond a double's range.
        {"0E5", 0.0},
        {"0.0E-400", 0.0},
        {"-0E400", -0.0},
        {"inf", std::numeric_limits<double>::infinity()},
        {"-inf", -std::numeric_limits<double>::infinity()},
        {"", std::nullopt},
        {"+1", std::nullopt},
        {"-", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1e", std::nullopt},
        {"0x1p3", std::nullopt},
        {"infinit", std::nullopt},
        {"nan(", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"1.7976931348623159e308", std::nullopt},
        {"1e-400", std::nullopt},
        {"1E400", std::nullopt},
        {"1E-400", std::nullopt},
        {"2.4703282292062327e-324", std::nullopt},  // rounds to zero
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> read = trace::doubleOf(c.text);
        ASSERT_EQ(read.has_value(), c.value.has_value());
        if (read) {
            EXPECT_EQ(*read, *c.value);
        }
    }
    EXPECT_TRUE(std::isnan(trace::doubleOf("nan").value_or(0)));
    EXPECT_TRUE(std::signbit(trace::doubleOf("-nan").value_or(0)));
    EXPECT_TRUE(std::isnan(trace::doubleOf("nan(1a_b)").value_or(0)));
    EXPECT_TRUE(std::signbit(trace::doubleOf("-0").value_or(1)));
}

TEST(TraceReader, ReadsEveryDoubleTheWriterWritesToItsBits) {
    std::mt19937_64 bits(22);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t pattern = bits();
        double written = 0;
        std::memcpy(&written, &pattern, sizeof written);
        if (std::isnan(written)) continue;
        char text[64];
        const auto end = std::to_chars(text, text + sizeof text, written).ptr;
        SCOPED_TRACE(std::string(text, end));
        const std::optional<double> read = trace::doubleOf(std::string_view(text, end - text));
        ASSERT_TRUE(read.has_value());
        ASSERT_EQ(std::memcmp(&*read, &written, sizeof written), 0);
    }
}

}  // namespace
