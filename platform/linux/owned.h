// Ownership of the native references of the Linux implementation: D-Bus messages and
// connections, X data. Each comes from a create or copy call of its library and is given
// back exactly once through that library's release call; `Owned` is the one place where that
// happens, so no release call is spread through the code.
//
//   Owned<DBusMessage, dbus_message_unref> reply{dbus_connection_send_with_reply_and_block(...)};
//   if (!reply) ...;            // nothing was created, nothing will be released
//   use(reply.get());           // borrowed: the holder keeps its reference
#pragma once

#include <memory>

namespace platform::linux_desktop {

template <typename T, auto release>
struct Releaser {
    void operator()(T* reference) const noexcept {
        if (reference != nullptr) release(reference);
    }
};

// Adopts one reference (the result of a create or copy call) and releases it when it ends.
template <typename T, auto release>
using Owned = std::unique_ptr<T, Releaser<T, release>>;

}  // namespace platform::linux_desktop
