#include "main/fail.h"

#include <gtest/gtest.h>

#include "support/child_run.h"

namespace {

using namespace std::string_literals;

TEST(Fail, WritesOneLineWithEveryByteAndEndsWithStatusOne) {
    const std::string messages[] = {"usage: tessary <command-id> <absolute-result-path>", "two\nlines\r\n", "nul\0inside"s, "",
                                    "\xff\xfe stray bytes", std::string(100000, 'x')};
    for (const std::string& message : messages) {
        const Outcome outcome = runInChild([&] {
            try {
                tessary::fail(message);
            } catch (const tessary::Failure&) {
                return 1;
            }
            return 0;
        });
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "TESSARY: " + message + "\n");
        EXPECT_EQ(outcome.out, "");
    }
}

}  // namespace
