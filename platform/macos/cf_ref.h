// The one owner of CoreFoundation references in the macOS implementation.
//
// A `CfRef` holds exactly one reference and releases it when it goes away. It adopts the
// result of a Create or Copy call, which the caller already owns, and retains a borrowed
// (Get) reference, such as an item of an array that has to outlive its array. A reference
// leaves the holder only through `handOver`, into a seam handle, which gives it back through
// `releaseReference` exactly once. No other file of this implementation calls CFRelease.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace platform::macos {

class CfRef {
public:
    CfRef() = default;

    // Owns the result of a Create or Copy call; a null reference makes an empty holder.
    static CfRef adopt(CFTypeRef reference) noexcept { return CfRef(reference); }

    // Owns one more reference to a borrowed object; a null reference makes an empty holder.
    static CfRef retain(CFTypeRef reference) noexcept {
        return CfRef(reference != nullptr ? CFRetain(reference) : nullptr);
    }

    // Releases a reference that `handOver` gave to a seam handle.
    static void releaseReference(void* reference) noexcept { (void)adopt(reference); }

    CfRef(CfRef&& other) noexcept : reference_(std::exchange(other.reference_, nullptr)) {}
    CfRef& operator=(CfRef&& other) noexcept {
        if (this != &other) {
            reset();
            reference_ = std::exchange(other.reference_, nullptr);
        }
        return *this;
    }
    CfRef(const CfRef&) = delete;
    CfRef& operator=(const CfRef&) = delete;
    ~CfRef() { reset(); }

    CFTypeRef get() const noexcept { return reference_; }
    explicit operator bool() const noexcept { return reference_ != nullptr; }

    // Gives the reference up to a seam handle; the holder is empty afterwards.
    void* handOver() noexcept { return const_cast<void*>(std::exchange(reference_, nullptr)); }

private:
    explicit CfRef(CFTypeRef reference) noexcept : reference_(reference) {}

    void reset() noexcept {
        if (reference_ != nullptr) CFRelease(std::exchange(reference_, nullptr));
    }

    CFTypeRef reference_ = nullptr;
};

}  // namespace platform::macos
