// CoreFoundation as the macOS implementation uses it (see ../README.md).
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// MacTypes.h and CFBase.h on LP64 (arm64).
typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned short UInt16;
typedef unsigned int UInt32;
typedef signed long CFIndex;

// https://developer.apple.com/documentation/corefoundation/cftypeid.md
typedef unsigned long CFTypeID;
typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFArray* CFArrayRef;
// https://developer.apple.com/documentation/corefoundation/cfboolean.md
typedef const struct __CFBoolean* CFBooleanRef;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
    CFRange range;
    range.location = location;
    range.length = length;
    return range;
}

// https://developer.apple.com/documentation/corefoundation/kcfallocatordefault.md ("a synonym
// for NULL": the current default allocator)
extern const CFAllocatorRef kCFAllocatorDefault;

// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfretain.md
CFTypeRef CFRetain(CFTypeRef cf);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfrelease.md
void CFRelease(CFTypeRef cf);
// https://developer.apple.com/documentation/corefoundation/cfgettypeid(_:).md
CFTypeID CFGetTypeID(CFTypeRef cf);

// https://developer.apple.com/documentation/corefoundation/cfstringbuiltinencodings.md
// https://developer.apple.com/documentation/corefoundation/cfstringbuiltinencodings/utf8.md
// (Apple's pages give no number; the SDK value 0x08000100 as the SDK bindings reproduce it:
// https://docs.rs/security-rs/0.6.1/security/ffi/constant.kCFStringEncodingUTF8.html)
typedef UInt32 CFStringEncoding;
enum CFStringBuiltInEncodings : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingUnicode = 0x0100,
    kCFStringEncodingUTF8 = 0x08000100,
};
typedef enum CFStringBuiltInEncodings CFStringBuiltInEncodings;

// https://developer.apple.com/documentation/corefoundation/cfstringgettypeid().md
CFTypeID CFStringGetTypeID(void);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfstringgetlength(_:).md
CFIndex CFStringGetLength(CFStringRef theString);
// https://developer.apple.com/documentation/corefoundation/cfstringgetbytes(_:_:_:_:_:_:_:_:).md
// Returns the number of characters converted; with lossByte 0 the conversion stops at the
// first character that the encoding cannot hold. A NULL buffer only measures (usedBufLen).
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfstringcreatewithbytes(_:_:_:_:_:).md
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);

// https://developer.apple.com/documentation/corefoundation/cfarraygettypeid().md
CFTypeID CFArrayGetTypeID(void);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfarraygetcount(_:).md
CFIndex CFArrayGetCount(CFArrayRef theArray);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfarraygetvalueatindex(_:_:).md
// The item follows the Get rule: borrowed from the array.
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

// https://developer.apple.com/documentation/corefoundation/cfbooleangettypeid().md
CFTypeID CFBooleanGetTypeID(void);
// https://developer.apple.com/tutorials/data/documentation/corefoundation/cfbooleangetvalue(_:).md
// "Returns the value of a CFBoolean object as a standard C type Boolean."
Boolean CFBooleanGetValue(CFBooleanRef boolean);

// https://developer.apple.com/documentation/corefoundation/cfnumber.md
typedef const struct __CFNumber* CFNumberRef;
// https://developer.apple.com/documentation/corefoundation/cfnumbertype.md
// (CFNumber.h: CF_ENUM(CFIndex, CFNumberType))
enum CFNumberType : CFIndex {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16,
};
typedef enum CFNumberType CFNumberType;
// https://developer.apple.com/documentation/corefoundation/cfnumbergettypeid().md
CFTypeID CFNumberGetTypeID(void);
// https://developer.apple.com/documentation/corefoundation/cfnumbergetvalue(_:_:_:).md
// Converts the number to `theType` into valuePtr. "If the argument type differs from the return
// type, and the conversion is lossy or the return value is out of range, then this function
// passes back an approximate value in valuePtr and returns false."
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

// https://developer.apple.com/documentation/corefoundation/cfdictionary
typedef const struct __CFDictionary* CFDictionaryRef;
// https://developer.apple.com/documentation/corefoundation/cfdictionarygettypeid()
CFTypeID CFDictionaryGetTypeID(void);
// https://developer.apple.com/documentation/corefoundation/cfdictionarygetvalue(_:_:)
// The value follows the Get rule: borrowed from the dictionary; NULL when the key is absent.
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);

#ifdef __cplusplus
}
#endif
