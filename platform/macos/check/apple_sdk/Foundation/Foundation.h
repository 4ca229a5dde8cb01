// Foundation as the macOS implementation uses it (see ../README.md). Objective-C only.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

// objc/objc.h on arm64: BOOL is bool; nil is nullptr in C++.
typedef bool BOOL;
#define nil nullptr
// NSObjCRuntime.h on LP64.
typedef unsigned long NSUInteger;
typedef long NSInteger;

@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject>
+ (instancetype)alloc;
@end

// https://docs.rs/objc2-foundation/latest/aarch64-apple-darwin/objc2_foundation/constant.NSUTF8StringEncoding.html
typedef NSUInteger NSStringEncoding;
enum : NSStringEncoding {
    NSUTF8StringEncoding = 4,
};

@interface NSString : NSObject
// https://developer.apple.com/documentation/foundation/nsstring/init(bytes:length:encoding:).md
// nil when the bytes are not valid in the encoding.
- (instancetype)initWithBytes:(const void*)bytes
                       length:(NSUInteger)len
                     encoding:(NSStringEncoding)encoding;
@end

@interface NSArray<ObjectType> : NSObject
// https://developer.apple.com/documentation/foundation/nsarray/object(at:).md (and `count`)
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end
