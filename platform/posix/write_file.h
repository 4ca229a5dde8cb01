// The product's one atomic file write (platform/posix/write_file.cpp), under a name of its own:
// the POSIX implementations give it to the seam as platform::writeFileAtomically, and the tools
// beside tessary (the replay's page) write their files with it too, so that its rules for links,
// permission bits and files that are not regular files hold for every file the project writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

// Replaces the file at `path` with `text` in one step, through an auxiliary file in the path's
// own directory: a reader sees the earlier state or the whole new text. Only a regular file or a
// symbolic link (replaced itself) is replaced; a replaced file's permission bits are kept, a new
// file gets 0666 less the umask. Nothing on success, else the description of the error; then the
// path is as it was and nothing is left beside it.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text);

}  // namespace platform::posix
