// The running process's own signature, as Code Signing Services read it: whether it is signed,
// ad-hoc or with a certificate, its identifier and its certificate's team. macOS ties an
// Accessibility grant to it: to the code hash alone for an ad-hoc signature, to the identifier
// and the certificate otherwise.
#include "platform/platform.h"

#include <Security/Security.h>

#include <cstdint>
#include <string>

#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_string.h"

namespace platform {
namespace {

// The text of a dictionary entry that holds a CFString; empty for anything else.
std::string textIn(CFDictionaryRef information, CFStringRef key) {
    const CFTypeRef value = CFDictionaryGetValue(information, key);
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return {};
    return macos::utf8FromCfString(static_cast<CFStringRef>(value));
}

}  // namespace

CodeSignature codeSignature() {
    CodeSignature signature;
    SecCodeRef self = nullptr;
    if (SecCodeCopySelf(kSecCSDefaultFlags, &self) != errSecSuccess || self == nullptr) return signature;
    const macos::CfRef code = macos::CfRef::adopt(self);
    CFDictionaryRef copied = nullptr;
    if (SecCodeCopySigningInformation(self, kSecCSSigningInformation, &copied) != errSecSuccess || copied == nullptr) {
        return signature;
    }
    const macos::CfRef information = macos::CfRef::adopt(copied);
    if (CFGetTypeID(copied) != CFDictionaryGetTypeID()) return signature;
    // The identifier is there exactly when the code is signed.
    signature.identifier = textIn(copied, kSecCodeInfoIdentifier);
    if (signature.identifier.empty()) {
        signature.kind = SignatureKind::unsignedCode;
        return signature;
    }
    signature.team = textIn(copied, kSecCodeInfoTeamIdentifier);
    // The flags are a 32-bit set; read as a 64-bit integer, the one conversion that holds any of them.
    std::int64_t flags = 0;
    const CFTypeRef number = CFDictionaryGetValue(copied, kSecCodeInfoFlags);
    if (number == nullptr || CFGetTypeID(number) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt64Type, &flags)) {
        // Signed, but the kind is not told.
        signature.kind = SignatureKind::unknown;
        return signature;
    }
    const bool adHoc = (static_cast<std::uint64_t>(flags) & kSecCodeSignatureAdhoc) != 0;
    signature.kind = adHoc ? SignatureKind::adHoc : SignatureKind::certificate;
    return signature;
}

}  // namespace platform
