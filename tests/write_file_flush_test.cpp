// The atomic write's flushes, seen where they reach the system: the auxiliary file's text before
// it takes the path's place, then the path's folder after the rename, so that the rename itself
// is durable; for the unnamed and the named auxiliary file alike.
#include "platform/posix/write_file_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/child_run.h"

namespace {

using platform::file_internal::Auxiliary;
using platform::file_internal::flushFolderToStorage;
using platform::file_internal::flushToStorage;
using platform::file_internal::randomName;
using platform::file_internal::writeAtomically;

// Each flush as it reached the system: "file <size>" or "folder", with what stood at the path
// at that moment.
std::string watchedPath;
std::string watchedFolder;
std::vector<std::string> flushesSeen;
bool folderFlushFails = false;

std::string standing() { return readFile(watchedPath).value_or("(nothing)"); }

bool seenFileFlush(int fd) {
    struct stat file {};
    ::fstat(fd, &file);
    flushesSeen.push_back("file " + std::to_string(file.st_size) + ", the path holds " + standing());
    return flushToStorage(fd);
}

bool seenFolderFlush(int fd) {
    struct stat folder {};
    struct stat expected {};
    ::fstat(fd, &folder);
    const bool isTheFolder = ::stat(watchedFolder.c_str(), &expected) == 0 && S_ISDIR(folder.st_mode) &&
                             folder.st_ino == expected.st_ino && folder.st_dev == expected.st_dev;
    flushesSeen.push_back(std::string(isTheFolder ? "the path's folder" : "another file") + ", the path holds " +
                          standing());
    if (folderFlushFails) return false;
    return flushFolderToStorage(fd);
}

class WriteFileFlushes : public ::testing::TestWithParam<Auxiliary> {};

INSTANTIATE_TEST_SUITE_P(BothWays, WriteFileFlushes, ::testing::Values(Auxiliary::unnamedFirst, Auxiliary::named),
                         [](const ::testing::TestParamInfo<Auxiliary>& info) {
                             return info.param == Auxiliary::unnamedFirst ? "Unnamed" : "Named";
                         });

TEST_P(WriteFileFlushes, TheFolderIsFlushedAfterTheRename) {
    watchedFolder = scratchDirectory();
    watchedPath = watchedFolder + "/result";
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the folder's flush fails" : "the folder's flush succeeds");
        const std::string text = fails ? "second" : "first";
        flushesSeen.clear();
        folderFlushFails = fails;
        EXPECT_EQ(writeAtomically(watchedPath, text, GetParam(), randomName, seenFileFlush, seenFolderFlush),
                  std::nullopt)
            << "a folder's flush that fails comes after the new text stands at the path: no error";
        const std::string before = fails ? "first" : "(nothing)";
        EXPECT_EQ(flushesSeen, (std::vector<std::string>{
                                   "file " + std::to_string(text.size()) + ", the path holds " + before,
                                   "the path's folder, the path holds " + text,
                               }));
        EXPECT_EQ(readFile(watchedPath), text);
    }
    folderFlushFails = false;
}

// A write that fails renames nothing, so it has no rename to make durable.
TEST_P(WriteFileFlushes, AFailedWriteFlushesNoFolder) {
    watchedFolder = scratchDirectory();
    watchedPath = watchedFolder + "/missing/result";
    flushesSeen.clear();
    EXPECT_NE(writeAtomically(watchedPath, "text", GetParam(), randomName, seenFileFlush, seenFolderFlush),
              std::nullopt);
    EXPECT_EQ(flushesSeen, std::vector<std::string>{});
}

}  // namespace
