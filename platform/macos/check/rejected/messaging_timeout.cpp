// Rejected: the tool sets no messaging time-out of its own.
#include <ApplicationServices/ApplicationServices.h>

AXError shorten(AXUIElementRef element) { return AXUIElementSetMessagingTimeout(element, 1.0f); }
