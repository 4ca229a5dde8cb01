#include "platform/macos/cf_string.h"

namespace platform::macos {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

}  // namespace

CfRef cfStringFromUtf8(std::string_view text) {
    return CfRef::adopt(CFStringCreateWithBytes(kCFAllocatorDefault,
                                                reinterpret_cast<const UInt8*>(text.data()),
                                                static_cast<CFIndex>(text.size()),
                                                kCFStringEncodingUTF8, false));
}

std::string utf8FromCfString(CFStringRef string) {
    // With no loss byte, CFStringGetBytes converts up to the first code unit that has no UTF-8
    // form (an unpaired surrogate) and stops there. Each run is measured, then converted, and
    // each stop is written as U+FFFD; the string's length bounds every range, never a NUL.
    std::string text;
    const CFIndex length = CFStringGetLength(string);
    CFIndex at = 0;
    while (at < length) {
        CFIndex byteCount = 0;
        const CFIndex convertible = CFStringGetBytes(string, CFRangeMake(at, length - at),
                                                     kCFStringEncodingUTF8, 0, false, nullptr,
                                                     0, &byteCount);
        if (convertible > 0 && byteCount > 0) {
            const std::size_t start = text.size();
            text.resize(start + static_cast<std::size_t>(byteCount));
            CFIndex written = 0;
            const CFIndex converted = CFStringGetBytes(
                string, CFRangeMake(at, convertible), kCFStringEncodingUTF8, 0, false,
                reinterpret_cast<UInt8*>(text.data() + start), byteCount, &written);
            text.resize(start + static_cast<std::size_t>(written));
            at += converted;
        }
        if (at < length) {
            text += kReplacementCharacter;
            ++at;
        }
    }
    return text;
}

}  // namespace platform::macos
