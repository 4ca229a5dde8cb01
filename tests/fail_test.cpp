#include "main/fail.h"
#include "main/run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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

// A standard descriptor that the host left closed is taken by /dev/null before the run opens
// anything, so no file of the run (the lock, a connection, the result's auxiliary file) gets its
// number and receives the path line or the failure line. Open ones are left as they are.
TEST(StandardDescriptors, ClosedOnesAreTakenByTheNullDeviceAndNoFileGetsTheirNumber) {
    const std::vector<std::vector<int>> closedSets{{0}, {1}, {2}, {0, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : closedSets) {
        const Outcome outcome = runInChild([&] {
            struct stat before[3];
            for (int fd = 0; fd < 3; ++fd) fstat(fd, &before[fd]);
            for (const int fd : closed) close(fd);
            tessary::occupyClosedStandardDescriptors();
            struct stat null;
            if (stat("/dev/null", &null) != 0) return 10;
            for (int fd = 0; fd < 3; ++fd) {
                struct stat now;
                if (fstat(fd, &now) != 0) return 20 + fd;
                const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                const struct stat& expected = wasClosed ? null : before[fd];
                if (now.st_dev != expected.st_dev || now.st_ino != expected.st_ino) return 30 + fd;
                // Taken for reading and writing, like the streams it stands in for.
                if (wasClosed && (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) return 50 + fd;
            }
            const int opened = open("/dev/null", O_RDONLY);
            return opened > 2 ? 0 : 40;
        });
        EXPECT_EQ(outcome.status, 0) << "closed: " << ::testing::PrintToString(closed);
    }
}

}  // namespace
