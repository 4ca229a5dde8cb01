// The trace reader on any input: it never crashes, hangs or allocates beyond the input's size,
// and what it reads is stable: every line it accepts reads again, from its own text, to the same
// values, and a quoted value written again by the writer reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/fuzz/violation.h"
#include "trace/format.h"
#include "trace/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const trace::ReadTrace read = trace::readTrace(text);
    if (read.error) {
        fuzz::require(read.lines.empty(), "a trace that cannot be read yields no lines");
        fuzz::require(read.error->starts_with("trace line "), "a reading error names its line");
        return 0;
    }
    for (const trace::RecordedLine& line : read.lines) {
        std::string error;
        const auto again = trace::readLine(line.text, error);
        fuzz::require(again.has_value(), "an accepted line reads again from its own text");
        fuzz::require(again->fields.size() == line.fields.size(), "a line reads again to the same fields");
        for (std::size_t i = 0; i < line.fields.size(); ++i) {
            fuzz::require(again->fields[i].value == line.fields[i].value, "a field reads again to the same value");
            if (!line.fields[i].quoted) continue;
            std::string written;
            trace::appendQuoted(written, line.fields[i].value);
            const std::string rewritten = "0.000 1 applications bundle=" + written + " found=[] took=0.000";
            const auto back = trace::readLine(rewritten, error);
            fuzz::require(back && back->fields.size() == 3 && back->fields[0].value == line.fields[i].value,
                          "a quoted value written again reads back to the same bytes", {line.fields[i].value, rewritten, error});
        }
    }
    return 0;
}
