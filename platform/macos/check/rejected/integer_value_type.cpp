// Rejected: a bare number where AXValueGetValue takes an AXValueType.
#include <ApplicationServices/ApplicationServices.h>

bool pointOf(AXValueRef value, CGPoint* point) { return AXValueGetValue(value, 1, point); }
