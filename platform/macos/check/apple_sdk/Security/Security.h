// Security (the Code Signing Services part) as the macOS implementation uses it (see ../README.md):
// the running process's own signature. The declarations are those of the SDK's CSCommon.h and
// SecCode.h, which Apple's reference pages render.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// MacTypes.h: typedef SInt32 OSStatus.
typedef int SInt32;
typedef SInt32 OSStatus;
// https://developer.apple.com/documentation/security/errsecsuccess
enum : OSStatus {
    errSecSuccess = 0,
};

// https://developer.apple.com/documentation/security/seccode
// https://developer.apple.com/documentation/security/secstaticcode
// (CSCommon.h: a SecStaticCodeRef is the const form of the same structure)
typedef struct __SecCode* SecCodeRef;
typedef const struct __SecCode* SecStaticCodeRef;

// https://developer.apple.com/documentation/security/seccsflags
// (CSCommon.h: CF_OPTIONS(uint32_t, SecCSFlags))
typedef uint32_t SecCSFlags;
enum : SecCSFlags {
    kSecCSDefaultFlags = 0,
};
// https://developer.apple.com/documentation/security/kseccssigninginformation
// (SecCode.h: CF_ENUM(uint32_t), the flags of SecCodeCopySigningInformation)
enum : uint32_t {
    kSecCSInternalInformation = 1 << 0,
    kSecCSSigningInformation = 1 << 1,
    kSecCSRequirementInformation = 1 << 2,
    kSecCSDynamicInformation = 1 << 3,
    kSecCSContentInformation = 1 << 4,
};

// https://developer.apple.com/documentation/security/seccodesignatureflags
// (CSCommon.h: CF_OPTIONS(uint32_t, SecCodeSignatureFlags))
typedef uint32_t SecCodeSignatureFlags;
enum : SecCodeSignatureFlags {
    kSecCodeSignatureHost = 0x0001,
    kSecCodeSignatureAdhoc = 0x0002,
    kSecCodeSignatureRuntime = 0x10000,
    kSecCodeSignatureLinkerSigned = 0x20000,
};

// https://developer.apple.com/documentation/security/seccodecopyself(_:_:)
// "Retrieves the code object for the code making the call." The object follows the Create rule.
OSStatus SecCodeCopySelf(SecCSFlags flags, SecCodeRef* self);

// https://developer.apple.com/documentation/security/seccodecopysigninginformation(_:_:_:)
// Takes a Code or StaticCode object. "If the code exists but is not signed at all, this call will
// succeed and return a dictionary that does NOT contain the kSecCodeInfoIdentifier key." The
// dictionary follows the Create rule.
OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information);

// https://developer.apple.com/documentation/security/kseccodeinfoidentifier: a CFString, present
// exactly when the code is signed.
extern const CFStringRef kSecCodeInfoIdentifier;
// https://developer.apple.com/documentation/security/kseccodeinfoteamidentifier: a CFString, the
// team of the signing certificate (with kSecCSSigningInformation); absent without one.
extern const CFStringRef kSecCodeInfoTeamIdentifier;
// https://developer.apple.com/documentation/security/kseccodeinfoflags: a CFNumber of
// SecCodeSignatureFlags, the static (on-disk) state of the code.
extern const CFStringRef kSecCodeInfoFlags;

#ifdef __cplusplus
}
#endif
