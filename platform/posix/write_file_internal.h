// The atomic write behind platform::posix::writeFileAtomically (platform/posix/write_file.h), with its two ways of holding the
// text before it takes the path's place, so that tests can run both on one machine and can make
// the auxiliary file's name predictable. Nothing outside platform/posix and its tests uses this.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::file_internal {

enum class Auxiliary {
    // An unnamed file in the path's directory (Linux O_TMPFILE) that gets a name only once the
    // text is on stable storage, just before it takes the path's place; a named file where the
    // system or the file system has no unnamed files.
    unnamedFirst,
    // A named file from the start.
    named,
};

// Where the unpredictable part of an auxiliary file's name comes from. The name is
// ".tessary-" + part + ".tmp" beside the path; nothing means no name could be made.
using NameSource = std::optional<std::string> (*)();

// 32 hex digits from the system's entropy: 128 bits that nobody can guess in advance.
std::optional<std::string> randomName();

// How the auxiliary file's text is brought to stable storage, once it is all written and
// before it takes the path's place: true on success, else false with errno set.
using Flush = bool (*)(int fd);

// fsync; on macOS F_FULLFSYNC first, since fsync there only reaches the drive's cache.
bool flushToStorage(int fd);

// fsync of the path's directory, once the auxiliary file is renamed over the path: it makes the
// rename itself durable.
bool flushFolderToStorage(int fd);

// platform::posix::writeFileAtomically is writeAtomically(path, text, Auxiliary::unnamedFirst,
// randomName, flushToStorage, flushFolderToStorage). Returns nothing on success, else the
// description of the error; after an error the path is as it was and no auxiliary file is left.
// A failure of `flushFolder` is no error: the new text already stands at the path.
std::optional<std::string> writeAtomically(const std::string& path, std::string_view text, Auxiliary auxiliary,
                                           NameSource names, Flush flush = flushToStorage,
                                           Flush flushFolder = flushFolderToStorage);

}  // namespace platform::file_internal
