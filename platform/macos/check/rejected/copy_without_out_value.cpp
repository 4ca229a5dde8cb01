// Rejected: AXUIElementCopyAttributeValue without its out value.
#include <ApplicationServices/ApplicationServices.h>

AXError copy(AXUIElementRef element, CFStringRef attribute) {
    return AXUIElementCopyAttributeValue(element, attribute);
}
