// The seam's result write on every POSIX implementation: the product's one atomic write.
#include "platform/platform.h"
#include "platform/posix/write_file.h"

namespace platform {

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    return posix::writeFileAtomically(path, text);
}

}  // namespace platform
