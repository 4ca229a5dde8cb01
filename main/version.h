// Which tessary this is: the version and the commit that the build stamped (cmake/build_stamp.cmake),
// and the identifier that its signature and its Accessibility grant name.
#pragma once

#include <string>
#include <string_view>

namespace tessary {

// The project version of the build: "0.1.0".
std::string_view version();
// The git commit the build was made from, short; "unknown" outside a git checkout.
std::string_view commit();
// tessary's bundle identifier, "com.tessary.tessary": its Info.plist's and its signature's.
std::string_view identifier();

// "0.1.0 (4544b81)": the version and its commit, as `--version` prints them after the name and
// a trace's `start` line records them.
inline std::string build() { return std::string(version()) + " (" + std::string(commit()) + ")"; }

}  // namespace tessary
