// The platform seam: every service of the operating system that tessary uses, in plain C++
// types. Nothing here decides anything; each operation maps to one platform service and the
// implementation (macOS, Linux or the in-memory fake desktop of the tests) is chosen at link
// time. No CoreFoundation, AX, CoreGraphics, AT-SPI or X11 type crosses this header.
//
// Texts are UTF-8 in std::string and may hold U+0000. Geometry is in global screen points,
// origin at the top-left corner of the main display, y growing downward.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

// A move-only owner of one platform reference. The implementation hands out references
// through the operations below and releases them through `release`, exactly once.
template <void (*release)(void*) noexcept>
class Handle {
public:
    Handle() = default;
    explicit Handle(void* reference) noexcept : reference_(reference) {}
    Handle(Handle&& other) noexcept : reference_(std::exchange(other.reference_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            reference_ = std::exchange(other.reference_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    void* get() const noexcept { return reference_; }
    explicit operator bool() const noexcept { return reference_ != nullptr; }

private:
    void reset() noexcept {
        if (reference_ != nullptr) release(std::exchange(reference_, nullptr));
    }
    void* reference_ = nullptr;
};

void releaseElement(void* reference) noexcept;
void releaseApplication(void* reference) noexcept;
void releaseEvent(void* reference) noexcept;

// One element of another application's accessibility tree (application, window, row, ...).
using Element = Handle<releaseElement>;
// One running application, held while the run needs it.
using Application = Handle<releaseApplication>;
// One synthetic input event, created, posted once and released.
using Event = Handle<releaseEvent>;

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// No value was stored.
struct Absent {
    bool operator==(const Absent&) const = default;
};
// A value of a kind the tool never reads (a number, a range, ...).
struct OtherValue {
    bool operator==(const OtherValue&) const = default;
};

// A list value: the elements of the platform's list, in the platform's order. Items of a list
// that are not elements are left out, since no caller can use them.
using ElementList = std::vector<Element>;

// An attribute value, converted once from the platform's own value. A boolean answers yes-or-no
// attributes: whether an application is the active one ("AXFrontmost"), whether a row is
// selected ("AXSelected").
using Value = std::variant<Absent, std::string, ElementList, Element, Point, Size, bool, OtherValue>;

// Platform result codes. Success is 0; the others the tool meets are the macOS AXError values,
// which every implementation uses for the same conditions.
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFailure = -25200;
inline constexpr std::int32_t kIllegalArgument = -25201;
inline constexpr std::int32_t kInvalidElement = -25202;
inline constexpr std::int32_t kCannotComplete = -25204;
inline constexpr std::int32_t kAttributeUnsupported = -25205;
inline constexpr std::int32_t kActionUnsupported = -25206;
inline constexpr std::int32_t kApiDisabled = -25211;
inline constexpr std::int32_t kNoValue = -25212;

struct AttributeResult {
    std::int32_t code = kSuccess;
    // What the platform stored, whatever the code; Absent when it stored nothing.
    Value value;
};

enum class MouseEventType { leftMouseDown = 1, leftMouseUp = 2 };
enum class MouseButton { left = 0 };

// True when this process may use the accessibility interface. Never asks the user.
bool isProcessTrusted();

// The running applications with this bundle identifier, in the platform's order; possibly none.
std::vector<Application> runningApplications(std::string_view bundleIdentifier);

std::int64_t processIdentifier(const Application& application);

// Whether the platform allowed a request to bring an application to the front: allowed or
// refused as the platform answered it, unknown where it gives no answer. Allowed is no promise
// that the application is in front yet: the application takes its activation when it gets to it.
enum class Activation { allowed, refused, unknown };

// Asks for the application to come to the front with no options, and reports the platform's
// answer to the request.
Activation activate(const Application& application);

// Who owns what lies at a screen point.
enum class Occupant {
    process,  // the topmost window there belongs to `processId`
    nothing,  // the point is on no display, or no window is there
    unknown,  // the platform cannot tell
};
struct PointOwner {
    Occupant occupant = Occupant::unknown;
    std::int64_t processId = -1;  // for Occupant::process only
};

// One look at the window system, with no retry and no wait: who owns the topmost window at the
// point.
PointOwner ownerAt(Point point);

// Takes the per-user lock that serializes runs, blocking while another run holds it. The lock is
// held until the process ends, whatever ends it. False when no lock could be had (the file
// belongs to another user, or opening or locking failed): the run then goes on unserialized.
bool holdRunLock();

// The accessibility element of the application with this process id. Always yields an element;
// queries on it find nothing when the process is gone.
Element createApplicationElement(std::int64_t processId);

// A second reference to the same element (a local retain, no request to the application).
Element retainElement(const Element& element);

// One request to the application that owns the element: copies one attribute's value.
AttributeResult copyAttributeValue(const Element& element, std::string_view attribute);

// One request: performs an action ("AXPress") and returns the platform's result code.
std::int32_t performAction(const Element& element, std::string_view action);

// A mouse event with no event source, or nothing when the platform cannot create one.
std::optional<Event> createMouseEvent(MouseEventType type, Point position, MouseButton button);

// A keyboard event with no event source for a virtual key code, or nothing when the platform
// cannot create one.
std::optional<Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown);

// Posts the event into the system-wide input stream where hardware input enters it.
void postEvent(const Event& event);

// Blocks the calling thread.
void sleepMicroseconds(std::uint32_t microseconds);

// Replaces the file at `path` with `text` in one step: a reader sees the old state or the whole
// new text, never a part. The path is handed to the file system as the bytes given.
// Returns nothing on success, else the file layer's description of the error.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text);

// For tessary-doctor, which asks what a run would meet and changes nothing.

// True when this process may post synthetic input events. Never asks the user.
bool mayPostEvents();

// The process id of the application in front, the one that receives key events; -1 when the
// platform cannot tell.
std::int64_t frontmostProcess();

// The id of this process.
std::int64_t ownProcessId();

// What the system's process table says of one process.
struct ProcessEntry {
    std::int64_t parentId = -1;  // -1 when the table gives none
    std::string path;            // its executable's path, or its name where the path is not given
};

// One look at the process table for this process id; nothing when it is gone or cannot be read.
std::optional<ProcessEntry> processEntry(std::int64_t processId);

// The per-user run lock as `holdRunLock` would meet it now.
enum class LockState {
    free,      // no process holds it (or the file is not there yet): a run takes it at once
    held,      // another process holds it: a run waits for it
    unusable,  // a run would go on without it; `reason` says why
    unknown,   // the system does not say whether it is held
};
struct LockTest {
    LockState state = LockState::unknown;
    std::int64_t holder = -1;  // the holding process, where the system says (held only)
    std::string path;          // the lock file
    std::string reason;        // why it is unusable or unknown
};

// Tests the run lock without taking it, not even for a moment, and without creating its file.
LockTest testRunLock();

// A monotonic clock, in microseconds from an arbitrary start.
std::int64_t monotonicMicroseconds();

// How the running executable is signed, as the platform's code signing reads it. macOS ties an
// Accessibility grant to it.
enum class SignatureKind {
    unknown,       // the platform does not say (it has no code signing)
    unsignedCode,  // no signature at all
    adHoc,         // signed without a certificate
    certificate,   // signed with a certificate
};
struct CodeSignature {
    SignatureKind kind = SignatureKind::unknown;
    std::string identifier;  // the signature's identifier; empty when unsigned or unknown
    std::string team;        // the certificate's team identifier; empty when it names none
};

// The running process's own signature. Not traced: it describes this executable, not the
// desktop, and a replay answers for its own.
CodeSignature codeSignature();

}  // namespace platform
