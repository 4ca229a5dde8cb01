// Linux has no code signing that the desktop ties a permission to: the platform does not say.
#include "platform/platform.h"

namespace platform {

CodeSignature codeSignature() { return {}; }

}  // namespace platform
