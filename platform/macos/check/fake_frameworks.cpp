#include "fake_frameworks.h"
#include "strict_utf8.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

namespace fake_apple {
namespace {

enum class Kind { string, array, element, value, number, boolean, event, application, dictionary, code };

// Type ids as the frameworks hand them out: arbitrary, distinct, stable within a run.
CFTypeID typeIdOf(Kind kind) { return 1000 + static_cast<CFTypeID>(kind); }

struct Object {
    explicit Object(Kind kind) : kind(kind) {}
    virtual ~Object() = default;
    Kind kind;
    long count = 1;
};

struct StringObject : Object {
    explicit StringObject(std::u16string text) : Object(Kind::string), units(std::move(text)) {}
    std::u16string units;
};

struct ArrayObject : Object {
    ArrayObject() : Object(Kind::array) {}
    std::vector<CFTypeRef> items;
};

struct ElementObject : Object {
    explicit ElementObject(std::string label) : Object(Kind::element), name(std::move(label)) {}
    std::string name;
};

struct ValueObject : Object {
    ValueObject(AXValueType stored, double a, double b)
        : Object(Kind::value), type(stored), first(a), second(b) {}
    AXValueType type;
    double first;
    double second;
};

struct NumberObject : Object {
    NumberObject(CFNumberType stored, double held) : Object(Kind::number), type(stored), value(held) {}
    CFNumberType type;
    double value;
};

struct BooleanObject : Object {
    explicit BooleanObject(bool held) : Object(Kind::boolean), value(held) {}
    bool value;
};

struct EventObject : Object {
    explicit EventObject(std::string text) : Object(Kind::event), description(std::move(text)) {}
    std::string description;
};

struct ApplicationObject : Object {
    explicit ApplicationObject(pid_t id) : Object(Kind::application), pid(id) {}
    pid_t pid;
};

// A dictionary with its entries, each key and value retained.
struct DictionaryObject : Object {
    DictionaryObject() : Object(Kind::dictionary) {}
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
};

struct CodeObject : Object {
    CodeObject() : Object(Kind::code) {}
};

struct Answer {
    AXError code = kAXErrorSuccess;
    CFTypeRef value = nullptr;
};

struct State {
    std::set<const Object*> live;
    std::map<std::pair<std::string, std::string>, Answer> answers;
    std::map<std::pair<std::string, std::string>, AXError> actions;
    std::vector<std::string> calls;
    std::vector<std::string> faults;
    bool trusted = true;
    bool mayPostEvents = true;
    bool failEvents = false;
    Answer elementAt{kAXErrorCannotComplete, nullptr};
    std::map<std::string, std::pair<AXError, pid_t>> pids;
    CGError displaysCode = kCGErrorSuccess;
    uint32_t displays = 1;
    std::optional<pid_t> frontmost;
    bool activationAllowed = true;
    Signing signing;
};

State& state() {
    static State instance;
    return instance;
}

void fault(const std::string& what) { state().faults.push_back(what); }

template <typename T>
CFTypeRef born(T* object) {
    state().live.insert(object);
    return object;
}

// The object behind a reference, or null (and a fault) when it is not alive.
Object* alive(const void* reference, const char* caller) {
    const auto* object = static_cast<const Object*>(reference);
    if (reference == nullptr || state().live.count(object) == 0) {
        fault(std::string(caller) + ": not a live object");
        return nullptr;
    }
    return const_cast<Object*>(object);
}

template <typename T>
T* aliveAs(const void* reference, Kind kind, const char* caller) {
    Object* object = alive(reference, caller);
    if (object == nullptr) return nullptr;
    if (object->kind != kind) {
        fault(std::string(caller) + ": object of another type");
        return nullptr;
    }
    return static_cast<T*>(object);
}

void destroy(Object* object) {
    state().live.erase(object);
    if (object->kind == Kind::array) {
        for (CFTypeRef item : static_cast<ArrayObject*>(object)->items) CFRelease(item);
    }
    if (object->kind == Kind::dictionary) {
        for (const auto& [key, value] : static_cast<DictionaryObject*>(object)->entries) CFRelease(value);
    }
    delete object;
}

std::string utf8Of(const std::u16string& units) {
    std::string text;
    for (char16_t unit : units) text += unit < 0x80 ? static_cast<char>(unit) : '?';
    return text;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Strict UTF-8 to UTF-16, as CFStringCreateWithBytes takes it: false for ill-formed bytes.
bool utf16FromUtf8(const UInt8* bytes, CFIndex count, std::u16string& units) {
    std::u32string codePoints;
    if (!fake_strings::decodeStrictUtf8({reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)},
                                        codePoints)) {
        return false;
    }
    for (const char32_t c : codePoints) {
        if (c >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(c);
        }
    }
    return true;
}

std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

void reset() {
    State& s = state();
    s.answers.clear();
    s.actions.clear();
    for (const Object* object : s.live) delete object;
    s.live.clear();
    s.calls.clear();
    s.faults.clear();
    s.trusted = true;
    s.failEvents = false;
    s.mayPostEvents = true;
    s.elementAt = {kAXErrorCannotComplete, nullptr};
    s.pids.clear();
    s.displaysCode = kCGErrorSuccess;
    s.displays = 1;
    s.frontmost.reset();
    s.activationAllowed = true;
    s.signing = Signing{};
}

CFTypeRef string(std::u16string_view units) { return born(new StringObject(std::u16string(units))); }

CFTypeRef array(const std::vector<CFTypeRef>& items) {
    auto* object = new ArrayObject;
    for (CFTypeRef item : items) object->items.push_back(CFRetain(item));
    return born(object);
}

CFTypeRef element(std::string name) { return born(new ElementObject(std::move(name))); }

CFTypeRef axValue(AXValueType type, double first, double second) {
    return born(new ValueObject(type, first, second));
}

CFTypeRef number(CFNumberType type, double value) { return born(new NumberObject(type, value)); }

CFTypeRef boolean(bool value) { return born(new BooleanObject(value)); }

void answer(const std::string& elementName, const std::string& attribute, AXError code,
            CFTypeRef value) {
    Answer& slot = state().answers[{elementName, attribute}];
    if (slot.value != nullptr) CFRelease(slot.value);
    slot = Answer{code, value};
}

void answerAction(const std::string& elementName, const std::string& action, AXError code) {
    state().actions[{elementName, action}] = code;
}

void releaseAnswers() {
    auto answers = std::move(state().answers);
    state().answers.clear();
    for (auto& [key, slot] : answers) {
        if (slot.value != nullptr) CFRelease(slot.value);
    }
    if (state().elementAt.value != nullptr) CFRelease(std::exchange(state().elementAt.value, nullptr));
}

void answerElementAt(AXError code, CFTypeRef element) {
    if (state().elementAt.value != nullptr) CFRelease(state().elementAt.value);
    state().elementAt = {code, element};
}

void answerPid(const std::string& elementName, AXError code, pid_t pid) { state().pids[elementName] = {code, pid}; }

void answerDisplays(CGError code, uint32_t count) {
    state().displaysCode = code;
    state().displays = count;
}

platform::Application runningApplication(pid_t pid) {
    return platform::Application(const_cast<void*>(born(new ApplicationObject(pid))));
}

void setFrontmost(std::optional<pid_t> pid) { state().frontmost = pid; }
void setActivationAllowed(bool allowed) { state().activationAllowed = allowed; }

void setTrusted(bool trusted) { state().trusted = trusted; }
void answerSigning(const Signing& signing) { state().signing = signing; }
void setMayPostEvents(bool may) { state().mayPostEvents = may; }
void failEventCreation(bool fail) { state().failEvents = fail; }

std::string nameOf(const void* element) {
    const auto* object = static_cast<const Object*>(element);
    if (element == nullptr || state().live.count(object) == 0 || object->kind != Kind::element)
        return "?";
    return static_cast<const ElementObject*>(object)->name;
}

std::vector<std::string> calls() { return state().calls; }
std::vector<std::string> faults() { return state().faults; }
std::size_t liveObjects() { return state().live.size(); }

long retainCountOf(const void* object) {
    const auto* o = static_cast<const Object*>(object);
    return state().live.count(o) != 0 ? o->count : 0;
}

}  // namespace fake_apple

using namespace fake_apple;

namespace {
// The keys of the signing information: constants that live for the whole process, compared by
// identity as the tool passes them (never released, so no live object of the fake).
const char identifierKey = 'i';
const char teamKey = 't';
const char flagsKey = 'f';
}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;

CFTypeRef CFRetain(CFTypeRef cf) {
    if (Object* object = alive(cf, "CFRetain")) ++object->count;
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Object* object = alive(cf, "CFRelease");
    if (object != nullptr && --object->count == 0) destroy(object);
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    Object* object = alive(cf, "CFGetTypeID");
    return object != nullptr ? typeIdOf(object->kind) : 0;
}

CFTypeID CFStringGetTypeID(void) { return typeIdOf(Kind::string); }
CFTypeID CFArrayGetTypeID(void) { return typeIdOf(Kind::array); }
CFTypeID AXUIElementGetTypeID(void) { return typeIdOf(Kind::element); }
CFTypeID AXValueGetTypeID(void) { return typeIdOf(Kind::value); }
CFTypeID CFBooleanGetTypeID(void) { return typeIdOf(Kind::boolean); }
CFTypeID CFNumberGetTypeID(void) { return typeIdOf(Kind::number); }
CFTypeID CFDictionaryGetTypeID(void) { return typeIdOf(Kind::dictionary); }

const CFStringRef kSecCodeInfoIdentifier = reinterpret_cast<CFStringRef>(&identifierKey);
const CFStringRef kSecCodeInfoTeamIdentifier = reinterpret_cast<CFStringRef>(&teamKey);
const CFStringRef kSecCodeInfoFlags = reinterpret_cast<CFStringRef>(&flagsKey);

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    auto* dictionary = aliveAs<DictionaryObject>(theDict, Kind::dictionary, "CFDictionaryGetValue");
    if (dictionary == nullptr) return nullptr;
    for (const auto& [k, value] : dictionary->entries) {
        if (k == key) return value;
    }
    return nullptr;
}

OSStatus SecCodeCopySelf(SecCSFlags flags, SecCodeRef* self) {
    state().calls.push_back("SecCodeCopySelf flags=" + std::to_string(flags));
    if (flags != kSecCSDefaultFlags) fault("SecCodeCopySelf: flags other than the default");
    if (self == nullptr || *self != nullptr) {
        fault("SecCodeCopySelf: out value null or not cleared");
        return -50;
    }
    if (state().signing.selfStatus != errSecSuccess) return state().signing.selfStatus;
    *self = reinterpret_cast<SecCodeRef>(const_cast<void*>(born(new CodeObject)));
    return errSecSuccess;
}

OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information) {
    state().calls.push_back("SecCodeCopySigningInformation flags=" + std::to_string(flags));
    if (aliveAs<CodeObject>(code, Kind::code, "SecCodeCopySigningInformation") == nullptr) return -50;
    if (information == nullptr || *information != nullptr) {
        fault("SecCodeCopySigningInformation: out value null or not cleared");
        return -50;
    }
    const Signing& signing = state().signing;
    if (signing.informationStatus != errSecSuccess) return signing.informationStatus;
    if (signing.notADictionary) {
        *information = static_cast<CFDictionaryRef>(fake_apple::number(kCFNumberSInt64Type, 0));
        return errSecSuccess;
    }
    auto* dictionary = new DictionaryObject;
    if (signing.identifier) dictionary->entries.emplace_back(kSecCodeInfoIdentifier, fake_apple::string(*signing.identifier));
    if (signing.team) dictionary->entries.emplace_back(kSecCodeInfoTeamIdentifier, fake_apple::string(*signing.team));
    if (signing.flags) {
        dictionary->entries.emplace_back(kSecCodeInfoFlags, fake_apple::number(kCFNumberSInt32Type, *signing.flags));
    }
    *information = static_cast<CFDictionaryRef>(born(dictionary));
    return errSecSuccess;
}

// Only the conversion the tool asks for, to a 64-bit integer: lossless when the number is an
// integer value within range, else an approximation and false.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    const auto* object = aliveAs<NumberObject>(number, Kind::number, "CFNumberGetValue");
    if (object == nullptr || valuePtr == nullptr) return false;
    if (theType != kCFNumberSInt64Type) {
        fault("CFNumberGetValue: a number type the tool never reads");
        return false;
    }
    const double value = object->value;
    const bool inRange = value >= -9223372036854775808.0 && value < 9223372036854775808.0;  // false for a NaN
    const int64_t converted = inRange ? static_cast<int64_t>(value) : 0;
    std::memcpy(valuePtr, &converted, sizeof converted);
    return inRange && static_cast<double>(converted) == value;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    const auto* object = aliveAs<BooleanObject>(boolean, Kind::boolean, "CFBooleanGetValue");
    return object != nullptr && object->value ? 1 : 0;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    auto* string = aliveAs<StringObject>(theString, Kind::string, "CFStringGetLength");
    return string != nullptr ? static_cast<CFIndex>(string->units.size()) : 0;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    auto* string = aliveAs<StringObject>(theString, Kind::string, "CFStringGetBytes");
    if (string == nullptr) return 0;
    if (encoding != kCFStringEncodingUTF8 || lossByte != 0 || isExternalRepresentation)
        fault("CFStringGetBytes: not UTF-8 without loss byte and without BOM");
    const auto size = static_cast<CFIndex>(string->units.size());
    if (range.location < 0 || range.length < 0 || range.location + range.length > size) {
        fault("CFStringGetBytes: range beyond the string");
        return 0;
    }
    const std::u16string& units = string->units;
    CFIndex at = range.location;
    const CFIndex end = range.location + range.length;
    CFIndex used = 0;
    while (at < end) {
        char32_t c = units[static_cast<std::size_t>(at)];
        CFIndex width = 1;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (at + 1 >= end) break;
            const char32_t low = units[static_cast<std::size_t>(at + 1)];
            if (low < 0xDC00 || low > 0xDFFF) break;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            width = 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            break;  // no UTF-8 form, and no loss byte: the conversion stops here
        }
        std::string bytes;
        appendUtf8(bytes, c);
        const auto n = static_cast<CFIndex>(bytes.size());
        if (buffer != nullptr) {
            if (used + n > maxBufLen) break;
            std::memcpy(buffer + used, bytes.data(), bytes.size());
        }
        used += n;
        at += width;
    }
    if (usedBufLen != nullptr) *usedBufLen = used;
    return at - range.location;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
    if (alloc != nullptr || encoding != kCFStringEncodingUTF8 || isExternalRepresentation)
        fault("CFStringCreateWithBytes: not UTF-8 with the default allocator");
    std::u16string units;
    if (!utf16FromUtf8(bytes, numBytes, units)) return nullptr;
    return static_cast<CFStringRef>(string(units));
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    auto* array = aliveAs<ArrayObject>(theArray, Kind::array, "CFArrayGetCount");
    return array != nullptr ? static_cast<CFIndex>(array->items.size()) : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    auto* array = aliveAs<ArrayObject>(theArray, Kind::array, "CFArrayGetValueAtIndex");
    if (array == nullptr) return nullptr;
    if (idx < 0 || idx >= static_cast<CFIndex>(array->items.size())) {
        fault("CFArrayGetValueAtIndex: index outside the array");
        return nullptr;
    }
    return array->items[static_cast<std::size_t>(idx)];
}

Boolean AXIsProcessTrusted(void) {
    state().calls.push_back("is trusted");
    return state().trusted;
}

bool CGPreflightPostEventAccess(void) {
    state().calls.push_back("may post events");
    return state().mayPostEvents;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    state().calls.push_back("create application " + std::to_string(pid));
    return static_cast<AXUIElementRef>(element("application " + std::to_string(pid)));
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
    if (value == nullptr) {
        fault("AXUIElementCopyAttributeValue: no out value");
        return kAXErrorIllegalArgument;
    }
    if (*value != nullptr) fault("AXUIElementCopyAttributeValue: out value not null before the call");
    auto* target = aliveAs<ElementObject>(element, Kind::element, "AXUIElementCopyAttributeValue");
    auto* name = aliveAs<StringObject>(attribute, Kind::string, "AXUIElementCopyAttributeValue");
    if (target == nullptr || name == nullptr) return kAXErrorIllegalArgument;
    state().calls.push_back("copy " + utf8Of(name->units) + " of " + target->name);
    const auto found = state().answers.find({target->name, utf8Of(name->units)});
    if (found == state().answers.end()) return kAXErrorAttributeUnsupported;
    if (found->second.value != nullptr) *value = CFRetain(found->second.value);
    return found->second.code;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
    auto* target = aliveAs<ElementObject>(element, Kind::element, "AXUIElementPerformAction");
    auto* name = aliveAs<StringObject>(action, Kind::string, "AXUIElementPerformAction");
    if (target == nullptr || name == nullptr) return kAXErrorIllegalArgument;
    state().calls.push_back("perform " + utf8Of(name->units) + " on " + target->name);
    const auto found = state().actions.find({target->name, utf8Of(name->units)});
    return found != state().actions.end() ? found->second : kAXErrorSuccess;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
    auto* stored = aliveAs<ValueObject>(value, Kind::value, "AXValueGetValue");
    if (stored == nullptr) return false;
    if (theType != kAXValueTypeCGPoint && theType != kAXValueTypeCGSize) {
        fault("AXValueGetValue: a structure type the tool never reads");
        return false;
    }
    const unsigned char zero[sizeof(CGPoint)] = {};
    if (std::memcmp(valuePtr, zero, sizeof zero) != 0) fault("AXValueGetValue: record not zeroed");
    if (stored->type != theType) return false;
    const double fields[2] = {stored->first, stored->second};
    std::memcpy(valuePtr, fields, sizeof fields);  // CGPoint and CGSize: two CGFloat
    return true;
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
    if (source != nullptr) fault("CGEventCreateMouseEvent: an event source");
    const std::string description = "mouse-event " + std::to_string(mouseType) + " at " +
                                    number(mouseCursorPosition.x) + "," +
                                    number(mouseCursorPosition.y) + " button " +
                                    std::to_string(mouseButton);
    state().calls.push_back("create " + description);
    if (state().failEvents) return nullptr;
    return static_cast<CGEventRef>(const_cast<void*>(born(new EventObject(description))));
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    if (source != nullptr) fault("CGEventCreateKeyboardEvent: an event source");
    const std::string description =
        "key-event " + std::to_string(virtualKey) + (keyDown ? " down" : " up");
    state().calls.push_back("create " + description);
    if (state().failEvents) return nullptr;
    return static_cast<CGEventRef>(const_cast<void*>(born(new EventObject(description))));
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    auto* posted = aliveAs<EventObject>(event, Kind::event, "CGEventPost");
    if (posted == nullptr) return;
    state().calls.push_back("post " + posted->description + " at tap " + std::to_string(tap));
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
    state().calls.push_back("create system-wide");
    return static_cast<AXUIElementRef>(fake_apple::element("system-wide"));
}

AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y, AXUIElementRef* element) {
    if (element == nullptr) {
        fault("AXUIElementCopyElementAtPosition: no out value");
        return kAXErrorIllegalArgument;
    }
    if (*element != nullptr) fault("AXUIElementCopyElementAtPosition: out value not null before the call");
    auto* target = aliveAs<ElementObject>(application, Kind::element, "AXUIElementCopyElementAtPosition");
    if (target == nullptr) return kAXErrorIllegalArgument;
    state().calls.push_back("element at " + number(x) + "," + number(y) + " of " + target->name);
    if (state().elementAt.value != nullptr) *element = static_cast<AXUIElementRef>(CFRetain(state().elementAt.value));
    return state().elementAt.code;
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    auto* target = aliveAs<ElementObject>(element, Kind::element, "AXUIElementGetPid");
    if (target == nullptr || pid == nullptr) return kAXErrorIllegalArgument;
    state().calls.push_back("pid of " + target->name);
    const auto found = state().pids.find(target->name);
    if (found == state().pids.end()) return kAXErrorInvalidUIElement;
    if (found->second.first == kAXErrorSuccess) *pid = found->second.second;
    return found->second.first;
}

CGError CGGetDisplaysWithPoint(CGPoint point, uint32_t maxDisplays, CGDirectDisplayID* displays,
                               uint32_t* matchingDisplayCount) {
    if (displays != nullptr || maxDisplays != 0) fault("CGGetDisplaysWithPoint: a display list the tool never reads");
    if (matchingDisplayCount == nullptr) {
        fault("CGGetDisplaysWithPoint: no count");
        return kCGErrorIllegalArgument;
    }
    state().calls.push_back("displays at " + number(point.x) + "," + number(point.y));
    if (state().displaysCode == kCGErrorSuccess) *matchingDisplayCount = state().displays;
    return state().displaysCode;
}

}  // extern "C"

// AppKit as app_kit.h and the seam reach it; running_application.mm sends these messages on a
// Mac. Application handles hold one reference to a stand-in object, as __bridge_retained does.
namespace platform {

void releaseApplication(void* reference) noexcept { CFRelease(reference); }

std::int64_t processIdentifier(const Application& application) {
    auto* running = fake_apple::aliveAs<fake_apple::ApplicationObject>(application.get(), fake_apple::Kind::application,
                                                                       "processIdentifier");
    return running == nullptr ? -1 : running->pid;
}

namespace macos {

Application frontmostApplication() {
    fake_apple::state().calls.push_back("frontmost application");
    if (!fake_apple::state().frontmost) return Application{};
    return fake_apple::runningApplication(*fake_apple::state().frontmost);
}

bool activateFromApplication(const Application& application, const Application& frontmost, std::uint64_t options) {
    fake_apple::state().calls.push_back("activate " + std::to_string(processIdentifier(application)) +
                                        " activateFromApplication: " + std::to_string(processIdentifier(frontmost)) +
                                        " options: " + std::to_string(options));
    return fake_apple::state().activationAllowed;
}

bool activateWithOptions(const Application& application, std::uint64_t options) {
    fake_apple::state().calls.push_back("activate " + std::to_string(processIdentifier(application)) +
                                        " activateWithOptions: " + std::to_string(options));
    return fake_apple::state().activationAllowed;
}

}  // namespace macos
}  // namespace platform
