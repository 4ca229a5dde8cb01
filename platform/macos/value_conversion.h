// The one conversion of a copied accessibility attribute value to the seam's `Value`.
#pragma once

#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

namespace platform::macos {

// Converts whatever the platform stored, by its CoreFoundation type:
//   nothing                               -> Absent
//   CFString                              -> its text in UTF-8
//   CFArray                               -> ElementList of its AXUIElement items, in order;
//                                            other items are left out
//   AXUIElement                           -> Element holding its own reference
//   AXValue of a CGPoint / of a CGSize    -> Point / Size
//   CFBoolean                             -> bool
//   CFNumber of exactly 0 or 1            -> bool (false, true)
//   any other AXValue, any other type     -> OtherValue
// The value itself is released when the holder goes, whatever it held.
Value valueFromCopy(CfRef value);

}  // namespace platform::macos
