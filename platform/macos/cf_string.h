// Texts between the seam's UTF-8 strings and CoreFoundation strings.
//
// Both directions take the exact length: a text may hold U+0000 anywhere and be of any length.
// A CoreFoundation string is UTF-16 and may hold a surrogate that has no partner (an
// application can put one in an accessibility text); such a code unit has no UTF-8 form and
// becomes U+FFFD REPLACEMENT CHARACTER, one for each unpaired code unit.
#pragma once

#include "platform/macos/cf_ref.h"

#include <string>
#include <string_view>

namespace platform::macos {

// A new CoreFoundation string with the text of these UTF-8 bytes; an empty holder when the
// bytes are not UTF-8.
CfRef cfStringFromUtf8(std::string_view text);

// The whole string as UTF-8, unpaired surrogates as U+FFFD.
std::string utf8FromCfString(CFStringRef string);

}  // namespace platform::macos
