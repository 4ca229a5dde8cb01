// Rejected under ARC: an object pointer kept as a plain pointer without a bridging cast.
#import <AppKit/AppKit.h>

void* keep(NSRunningApplication* application) { return (void*)application; }
