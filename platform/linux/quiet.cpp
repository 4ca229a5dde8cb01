#include "platform/linux/quiet.h"

#include <glib.h>

#include <mutex>

namespace platform::linux_desktop {
namespace {

GLogWriterOutput discardRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) {
    return G_LOG_WRITER_HANDLED;
}

void discardMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void discardPrint(const gchar*) {}

}  // namespace

void silenceLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Structured logging (g_warning and friends since GLib 2.50) goes through the writer;
        // old-style g_log calls through the default handler; g_print and g_printerr through
        // the print handlers. A fatal message still aborts the process, but writes nothing.
        g_log_set_writer_func(discardRecord, nullptr, nullptr);
        g_log_set_default_handler(discardMessage, nullptr);
        g_set_print_handler(discardPrint);
        g_set_printerr_handler(discardPrint);
    });
}

}  // namespace platform::linux_desktop
