#include "fake_app_kit.h"
#include "strict_utf8.h"

#include <unistd.h>
#include <unwind.h>

#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace fake_app_kit {
namespace {

enum class Kind { classObject, string, array, application, workspace };

struct Object {
    Object(Kind k, std::string_view n) : kind(k), name(n) {}
    virtual ~Object() = default;
    Kind kind;
    std::string_view name;  // the class's name
    long count = 1;
};

struct StringObject : Object {
    StringObject() : Object(Kind::string, "NSString") {}
    std::string bytes;
};

struct ArrayObject : Object {
    ArrayObject() : Object(Kind::array, "NSArray") {}
    std::vector<Object*> items;  // one reference each
};

struct ApplicationObject : Object {
    explicit ApplicationObject(pid_t id) : Object(Kind::application, "NSRunningApplication"), pid(id) {}
    pid_t pid;
};

struct State {
    std::set<const Object*> live;
    std::vector<std::vector<Object*>> pools;
    std::map<std::string, std::vector<pid_t>> running;
    std::optional<pid_t> frontmost;
    bool activationAllowed = true;
    std::vector<std::string> calls;
    std::vector<std::string> faults;
};

State& state() {
    static State instance;
    return instance;
}

void fault(const std::string& what) { state().faults.push_back(what); }
void call(const std::string& what) { state().calls.push_back(what); }

// Class objects live for the whole process and take no part in reference counting.
Object stringClass{Kind::classObject, "NSString"};
Object runningApplicationClass{Kind::classObject, "NSRunningApplication"};
Object workspaceClass{Kind::classObject, "NSWorkspace"};

template <typename T>
T* born(T* object) {
    state().live.insert(object);
    return object;
}

bool alive(const Object* object) { return object->kind == Kind::classObject || state().live.count(object) != 0; }

void release(Object* object);

void destroy(Object* object) {
    state().live.erase(object);
    if (object->kind == Kind::array) {
        for (Object* item : static_cast<ArrayObject*>(object)->items) release(item);
    }
    delete object;
}

void release(Object* object) {
    if (object == nullptr || object->kind == Kind::classObject) return;
    if (!alive(object)) return fault("release of an object that is gone");
    if (--object->count == 0) destroy(object);
}

Object* retain(Object* object) {
    if (object == nullptr || object->kind == Kind::classObject) return object;
    if (!alive(object)) {
        fault("retain of an object that is gone");
        return object;
    }
    ++object->count;
    return object;
}

// Hands the caller's reference to the innermost pool: the object is returned unowned.
Object* autoreleased(Object* object) {
    if (state().pools.empty()) {
        fault(std::string(object->name) + " autoreleased outside any pool");
        return object;
    }
    state().pools.back().push_back(object);
    return object;
}

bool validUtf8(std::string_view bytes) {
    std::u32string ignored;
    return fake_strings::decodeStrictUtf8(bytes, ignored);
}

// The methods, as the messages reach them: receiver, selector, arguments.
using Sel = const void*;
constexpr unsigned long kUtf8Encoding = 4;  // NSUTF8StringEncoding

std::uintptr_t answerZero(Object*, Sel) { return 0; }

// +[NSString alloc]: one reference for the caller.
Object* stringAlloc(Object*, Sel) { return born(new StringObject); }

// -[NSString initWithBytes:length:encoding:]: consumes the receiver; nil for bytes that are not
// valid in the encoding.
Object* stringInit(Object* self, Sel, const void* bytes, unsigned long length, unsigned long encoding) {
    if (encoding != kUtf8Encoding) fault("NSString init: not UTF-8");
    const std::string_view text(static_cast<const char*>(bytes), length);
    if (!validUtf8(text)) {
        release(self);
        return nullptr;
    }
    static_cast<StringObject*>(self)->bytes = std::string(text);
    return self;
}

// +[NSRunningApplication runningApplicationsWithBundleIdentifier:]: an autoreleased array.
Object* runningApplications(Object*, Sel, Object* identifier) {
    if (identifier == nullptr || identifier->kind != Kind::string) {
        fault("runningApplicationsWithBundleIdentifier: not a string");
        return nullptr;
    }
    const std::string& bundle = static_cast<StringObject*>(identifier)->bytes;
    call("running applications " + bundle);
    auto* list = born(new ArrayObject);
    if (const auto found = state().running.find(bundle); found != state().running.end()) {
        for (const pid_t pid : found->second) list->items.push_back(born(new ApplicationObject(pid)));
    }
    return autoreleased(list);
}

unsigned long arrayCount(Object* self, Sel) { return static_cast<ArrayObject*>(self)->items.size(); }

// -[NSArray objectAtIndex:]: unowned; the array keeps its reference.
Object* arrayAt(Object* self, Sel, unsigned long index) {
    const auto& items = static_cast<ArrayObject*>(self)->items;
    if (index >= items.size()) {
        fault("objectAtIndex: beyond the array");
        return nullptr;
    }
    return items[index];
}

pid_t processIdentifier(Object* self, Sel) {
    const pid_t pid = static_cast<ApplicationObject*>(self)->pid;
    call("processIdentifier of " + std::to_string(pid));
    return pid;
}

bool activateWithOptions(Object* self, Sel, unsigned long options) {
    call("activate " + std::to_string(static_cast<ApplicationObject*>(self)->pid) + " activateWithOptions: " +
         std::to_string(options));
    return state().activationAllowed;
}

bool activateFromApplication(Object* self, Sel, Object* from, unsigned long options) {
    const std::string giver =
        from != nullptr && from->kind == Kind::application ? std::to_string(static_cast<ApplicationObject*>(from)->pid) : "?";
    call("activate " + std::to_string(static_cast<ApplicationObject*>(self)->pid) + " activateFromApplication: " + giver +
         " options: " + std::to_string(options));
    return state().activationAllowed;
}

// +[NSWorkspace sharedWorkspace]: unowned.
Object* sharedWorkspace(Object*, Sel) { return autoreleased(born(new Object(Kind::workspace, "NSWorkspace"))); }

// -[NSWorkspace frontmostApplication]: unowned, or nil.
Object* frontmostApplication(Object*, Sel) {
    call("frontmost application");
    if (!state().frontmost) return nullptr;
    return autoreleased(born(new ApplicationObject(*state().frontmost)));
}

struct Method {
    Kind kind;
    std::string_view receiver;
    std::string_view selector;
    void* implementation;
};

template <typename F>
void* implementationOf(F* function) {
    return reinterpret_cast<void*>(function);
}

const Method kMethods[] = {
    {Kind::classObject, "NSString", "alloc", implementationOf(stringAlloc)},
    {Kind::string, "NSString", "initWithBytes:length:encoding:", implementationOf(stringInit)},
    {Kind::classObject, "NSRunningApplication", "runningApplicationsWithBundleIdentifier:", implementationOf(runningApplications)},
    {Kind::array, "NSArray", "count", implementationOf(arrayCount)},
    {Kind::array, "NSArray", "objectAtIndex:", implementationOf(arrayAt)},
    {Kind::application, "NSRunningApplication", "processIdentifier", implementationOf(processIdentifier)},
    {Kind::application, "NSRunningApplication", "activateWithOptions:", implementationOf(activateWithOptions)},
    {Kind::application, "NSRunningApplication", "activateFromApplication:options:", implementationOf(activateFromApplication)},
    {Kind::classObject, "NSWorkspace", "sharedWorkspace", implementationOf(sharedWorkspace)},
    {Kind::workspace, "NSWorkspace", "frontmostApplication", implementationOf(frontmostApplication)},
};

}  // namespace

void reset() {
    State& s = state();
    s.running.clear();
    s.frontmost.reset();
    s.activationAllowed = true;
    s.calls.clear();
    s.faults.clear();
}

void setRunning(const std::string& bundleIdentifier, std::vector<pid_t> processIds) {
    state().running[bundleIdentifier] = std::move(processIds);
}

void setFrontmost(std::optional<pid_t> processId) { state().frontmost = processId; }
void setActivationAllowed(bool allowed) { state().activationAllowed = allowed; }

std::vector<std::string> calls() { return state().calls; }
std::vector<std::string> faults() { return state().faults; }
std::size_t liveObjects() { return state().live.size(); }

}  // namespace fake_app_kit

using fake_app_kit::Object;

// The class references that compiled Objective-C loads its class receivers from.
extern "C" {
void* nsStringClassReference __asm__("._OBJC_REF_CLASS_NSString") = &fake_app_kit::stringClass;
void* nsRunningApplicationClassReference __asm__("._OBJC_REF_CLASS_NSRunningApplication") =
    &fake_app_kit::runningApplicationClass;
void* nsWorkspaceClassReference __asm__("._OBJC_REF_CLASS_NSWorkspace") = &fake_app_kit::workspaceClass;
}

extern "C" {

// What objc_msgSend jumps to. A selector is, before any runtime registers it, the address of
// its name and type encoding as clang emits them: the name comes first.
void* tessaryFakeObjcLookup(Object* receiver, const char* const* selector) {
    using namespace fake_app_kit;
    if (receiver == nullptr) return implementationOf(answerZero);  // a message to nil answers zero
    const std::string_view name = selector[0];
    if (!alive(receiver)) {
        fault(std::string(name) + " sent to an object that is gone");
        return implementationOf(answerZero);
    }
    for (const Method& method : kMethods) {
        if (method.kind == receiver->kind && method.receiver == receiver->name && method.selector == name) {
            return method.implementation;
        }
    }
    fault(std::string(receiver->name) + (receiver->kind == Kind::classObject ? " class" : "") +
          " does not answer " + std::string(name));
    return implementationOf(answerZero);
}

// Loading registers nothing: selectors are looked up by name, classes through the references
// above.
void __objc_load(void*) {}

Object* objc_retain(Object* object) { return fake_app_kit::retain(object); }
void objc_release(Object* object) { fake_app_kit::release(object); }
Object* objc_retainAutoreleasedReturnValue(Object* object) { return fake_app_kit::retain(object); }

void objc_storeStrong(Object** location, Object* value) {
    fake_app_kit::retain(value);
    Object* old = *location;
    *location = value;
    fake_app_kit::release(old);
}

void* objc_autoreleasePoolPush() {
    auto& pools = fake_app_kit::state().pools;
    pools.emplace_back();
    return reinterpret_cast<void*>(pools.size());
}

void objc_autoreleasePoolPop(void* token) {
    auto& pools = fake_app_kit::state().pools;
    const auto depth = reinterpret_cast<std::uintptr_t>(token);
    if (depth == 0 || depth > pools.size()) return fake_app_kit::fault("a pool popped that was not pushed");
    while (pools.size() >= depth) {
        std::vector<Object*> held = std::move(pools.back());
        pools.pop_back();
        for (Object* object : held) fake_app_kit::release(object);
    }
}

// Unwinding through Objective-C++ frames is C++ unwinding here.
_Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class, _Unwind_Exception*,
                                         _Unwind_Context*);
_Unwind_Reason_Code __gnustep_objcxx_personality_v0(int version, _Unwind_Action actions,
                                                     _Unwind_Exception_Class exceptionClass,
                                                     _Unwind_Exception* exception, _Unwind_Context* context) {
    return __gxx_personality_v0(version, actions, exceptionClass, exception, context);
}

int usleep(useconds_t microseconds) {
    fake_app_kit::call("usleep " + std::to_string(microseconds));
    return 0;
}

}  // extern "C"

// objc_msgSend keeps the receiver, the selector and every argument register, asks the lookup
// for the method and jumps to it, so the method sees the message exactly as it was sent.
#if defined(__x86_64__)
__asm__(R"(
    .pushsection .text
    .globl objc_msgSend
    .type objc_msgSend, @function
objc_msgSend:
    push %rdi
    push %rsi
    push %rdx
    push %rcx
    push %r8
    push %r9
    sub $8, %rsp
    call tessaryFakeObjcLookup@PLT
    add $8, %rsp
    pop %r9
    pop %r8
    pop %rcx
    pop %rdx
    pop %rsi
    pop %rdi
    jmp *%rax
    .size objc_msgSend, .-objc_msgSend
    .popsection
)");
#elif defined(__aarch64__)
__asm__(R"(
    .pushsection .text
    .globl objc_msgSend
    .type objc_msgSend, %function
objc_msgSend:
    stp x29, x30, [sp, #-96]!
    mov x29, sp
    stp x0, x1, [sp, #16]
    stp x2, x3, [sp, #32]
    stp x4, x5, [sp, #48]
    stp x6, x7, [sp, #64]
    str x8, [sp, #80]
    bl tessaryFakeObjcLookup
    mov x16, x0
    ldp x0, x1, [sp, #16]
    ldp x2, x3, [sp, #32]
    ldp x4, x5, [sp, #48]
    ldp x6, x7, [sp, #64]
    ldr x8, [sp, #80]
    ldp x29, x30, [sp], #96
    br x16
    .size objc_msgSend, .-objc_msgSend
    .popsection
)");
#else
#error "objc_msgSend of the stand-in is written for x86-64 and AArch64 only"
#endif
