// The reader of the trace format: every kind of value the writer writes reads back, and a line
// the writer never writes is refused with its number and what is wrong with it.
#include "trace/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(TraceReader, ReadsEveryKindOfValueTheWriterWrites) {
    const std::string text =
        "0.000 41 start version=2 argc=3 arg=\"tessary\" arg=\"1\" arg=\"/tmp/r\"\n"
        "1.691 41 applications bundle=\"com.corel.coreldrawsuite.2022.coreldraw\" found=[1,2] took=0.298\n"
        "3.373 41 get element=#1 attribute=\"AXWindows\" code=0 kind=list value=[#2,#3] took=0.076\n"
        "3.373 41 get element=#1 attribute=\"AXWindows\" code=0 kind=list value=[] took=0.076\n"
        "3.450 41 get element=#2 attribute=\"AXDescription\" code=-25212 kind=text value=\"\\u0085\\x01\\xff\\\"\" took=0.029\n"
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
    ASSERT_EQ(read.lines.size(), 15u);
    EXPECT_EQ(read.lines[4].fields[4].value, "\xC2\x85\x01\xFF\"");
    EXPECT_EQ(read.lines[13].field("text")->value, "a\nb");
    EXPECT_EQ(read.lines[14].field("failure")->value, "TESSARY: no\n");
    EXPECT_EQ(read.lines[13].number, 14u);
    EXPECT_EQ(read.lines[9].event, "owner-at");
    EXPECT_EQ(read.lines[9].pid, 41);
    EXPECT_EQ(read.lines[8].milliseconds, "208.241");
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

}  // namespace
