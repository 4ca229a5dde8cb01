#!/usr/bin/python3
"""A stand-in for CorelDRAW 2022 on a Linux desktop, for tessary's tests and demo.

It shows what tessary relies on, through GTK 3 and its AT-SPI bridge, under the application
name "com.corel.coreldrawsuite.2022.coreldraw":

  * a Scripts inspector window: a scroll pane holding a list (tree table) of script rows
    (table rows), each with a label naming the script, RelayTransportProbe among them;
  * a Run button that lies under the point 16 px right of the list's left edge and 14 px
    above the window's bottom edge;
  * a click in a row selects it; Run with RelayTransportProbe selected opens an alert window
    (role alert, description "警告") whose first label is the relay answer and whose button
    "OK" closes it.

The host names the command id to answer in the file given by --command-file; it is read
afresh at every Run, so one stand-in serves several runs. With --command-queue the file holds
one id per line, and the n-th Run answers the n-th id.

With --selection-lag-ms a click shows its row as selected only that much later, while a Run
click meanwhile is taken after it, as a busy application takes queued events in order.

With --cover "X Y WIDTH HEIGHT" the program shows nothing but one plain window at that screen
rectangle, under another application name: a window of another process for a test to put over
a click point. What happens is appended to the
--event-log file, one line per event, and every answer shown is written whole to the
--answer-file, so tests can compare a result byte for byte.

Once its windows are mapped and the application is registered on the accessibility
bus, the stand-in writes its process id to the --ready-file (atomically).

Run it with Debian's /usr/bin/python3, which has python3-gi and gir1.2-gtk-3.0.
"""

import argparse
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Atk", "1.0")
from gi.repository import Atk, Gio, GLib, Gtk  # noqa: E402

BUNDLE_IDENTIFIER = "com.corel.coreldrawsuite.2022.coreldraw"
PROBE = "RelayTransportProbe"
ALERT_DESCRIPTION = "警告"
OTHER_SCRIPTS = ["AutoSaveBackup", "BatchExportPNG", PROBE, "RenumberPages", "TrimMarks"]

# Geometry of the Scripts inspector, in pixels of the window.
INSPECTOR_ORIGIN = (120, 90)
INSPECTOR_SIZE = (320, 420)
LIST_ORIGIN = (8, 8)
LIST_SIZE = (304, 360)
RUN_ORIGIN = (8, 380)
RUN_SIZE = (96, 32)
ALERT_ORIGIN = (520, 160)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="CorelDRAW stand-in for tessary's tests")
    parser.add_argument("--ready-file", required=True,
                        help="written with the process id once the windows are up")
    parser.add_argument("--command-file",
                        help="holds the command id to answer; read at every Run")
    parser.add_argument("--event-log", help="events are appended here, one per line")
    parser.add_argument("--answer-file", help="every alert text shown is written here")
    parser.add_argument("--geometry-file",
                        help="written when ready: screen rectangles of the widgets, as GTK sees them")
    parser.add_argument("--delay-ms", type=int, default=300,
                        help="time from Run to the alert (default 300)")
    parser.add_argument("--wrong-answer", metavar="TEXT",
                        help="answer with this text instead of the relay answer")
    parser.add_argument("--no-answer", action="store_true", help="Run opens no alert")
    parser.add_argument("--alert-at-start", metavar="TEXT",
                        help="an alert with this text is open from the start")
    parser.add_argument("--alert-without-ok", action="store_true",
                        help="alerts carry a Close button instead of OK")
    parser.add_argument("--rename", action="store_true",
                        help="a rename field is open in RelayTransportProbe's row; Escape closes it")
    parser.add_argument("--no-probe", action="store_true",
                        help="RelayTransportProbe is missing from the list")
    parser.add_argument("--rows", type=int, default=0,
                        help="list this many scripts (RelayTransportProbe third) instead of five")
    parser.add_argument("--command-queue", action="store_true",
                        help="the command file holds one id per line; the n-th Run answers the n-th")
    parser.add_argument("--selected", metavar="SCRIPT",
                        help="this script's row is selected from the start (a Run click with no "
                             "other selection made runs it)")
    parser.add_argument("--probe-scrolled-half-out", action="store_true",
                        help="list 30 scripts and scroll the list until RelayTransportProbe's row "
                             "lies three fifths above the list's view, its middle outside it")
    parser.add_argument("--probe-takes-no-selection", action="store_true",
                        help="a click on RelayTransportProbe's row does not select it")
    parser.add_argument("--selection-lag-ms", type=int, default=0, metavar="MS",
                        help="a click selects its row only MS milliseconds after the button is "
                             "released, and a Run click meanwhile is taken after it, as a busy "
                             "application takes queued events in order")
    parser.add_argument("--cover", metavar="RECTANGLE",
                        help='show only a plain window at "X Y WIDTH HEIGHT" (screen pixels)')
    return parser.parse_args(argv)


def script_names(options):
    rows = 30 if options.probe_scrolled_half_out and options.rows == 0 else options.rows
    if rows > 0:
        names = ["Script%05d" % number for number in range(rows)]
        if len(names) >= 3:
            names[2] = PROBE
        else:
            names.append(PROBE)
    else:
        names = list(OTHER_SCRIPTS)
    if options.no_probe:
        names = [name for name in names if name != PROBE]
    return names


def write_atomically(path, text):
    temporary = "%s.%d.tmp" % (path, os.getpid())
    with open(temporary, "w", encoding="utf-8", newline="") as stream:
        stream.write(text)
    os.replace(temporary, path)


def relay_answer(command_id):
    return ("TALVO_RELAY_BEGIN_%s\nrelay answer for %s: Grüße, ✓ ok\nTALVO_RELAY_END_%s"
            % (command_id, command_id, command_id))


class StandIn:
    def __init__(self, options):
        self.options = options
        self.runs = 0
        self.alerts = []
        self.rename_entry = None
        self.mapped = set()
        self.inspector = self.build_inspector()

    # ---- log ---------------------------------------------------------------------------------

    def log(self, line):
        if self.options.event_log:
            with open(self.options.event_log, "a", encoding="utf-8") as stream:
                stream.write(line + "\n")

    # ---- Scripts inspector --------------------------------------------------------------------

    def build_inspector(self):
        window = Gtk.Window(title="Scripts")
        window.set_resizable(False)
        window.move(*INSPECTOR_ORIGIN)
        window.connect("destroy", Gtk.main_quit)
        window.connect("map-event", self.on_mapped, "inspector")

        layout = Gtk.Fixed()
        layout.set_size_request(*INSPECTOR_SIZE)
        window.add(layout)

        scroller = Gtk.ScrolledWindow()
        scroller.set_size_request(*LIST_SIZE)
        scroller.set_policy(Gtk.PolicyType.NEVER, Gtk.PolicyType.AUTOMATIC)
        layout.put(scroller, *LIST_ORIGIN)
        self.scroller = scroller

        self.list = Gtk.ListBox()
        self.list.set_selection_mode(Gtk.SelectionMode.SINGLE)
        # Only a click selects: a list or row that takes keyboard focus would select its first
        # row by itself.
        self.list.set_can_focus(False)
        self.list.get_accessible().set_role(Atk.Role.TREE_TABLE)
        self.list.get_accessible().set_name("Scripts")
        scroller.add(self.list)
        # A busy application: the click's selection is made only after the lag, and a Run click
        # that comes meanwhile waits for it.
        self.pending_row = None
        self.run_waiting = False
        if self.options.selection_lag_ms > 0:
            self.list.connect("button-press-event", self.on_lagging_press)
            self.list.connect("button-release-event", self.on_lagging_release)

        for name in script_names(self.options):
            self.list.add(self.build_row(name))

        run = Gtk.Button(label="Run")
        run.set_size_request(*RUN_SIZE)
        run.set_can_focus(False)
        run.connect("clicked", self.on_run)
        layout.put(run, *RUN_ORIGIN)
        self.run_button = run
        return window

    def build_row(self, name):
        row = Gtk.ListBoxRow()
        row.script_name = name
        row.set_can_focus(False)
        row.get_accessible().set_role(Atk.Role.TABLE_ROW)
        box = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=6)
        label = Gtk.Label(label=name, xalign=0)
        label.set_margin_start(6)
        label.set_margin_top(3)
        label.set_margin_bottom(3)
        box.pack_start(label, False, False, 0)
        if name == PROBE and self.options.rename:
            entry = Gtk.Entry()
            entry.set_text(name)
            entry.set_width_chars(14)
            entry.connect("key-press-event", self.on_rename_key)
            box.pack_start(entry, True, True, 0)
            self.rename_entry = entry
        row.add(box)
        if name == PROBE and self.options.probe_takes_no_selection:
            row.set_selectable(False)
        return row

    def on_lagging_press(self, _list, _event):
        return True  # the list's own handling, which would select the row at once, is skipped

    def on_lagging_release(self, _list, event):
        row = self.list.get_row_at_y(int(event.y))
        if row is not None and row.get_selectable():
            self.pending_row = row
            GLib.timeout_add(self.options.selection_lag_ms, self.select_pending_row)
        return True

    def select_pending_row(self):
        row, self.pending_row = self.pending_row, None
        if row is not None:
            self.list.select_row(row)
        if self.run_waiting:
            self.run_waiting = False
            self.on_run(self.run_button)
        return False

    def on_row_selected(self, _list, row):
        if row is not None:
            self.log("select %s" % row.script_name)

    def on_rename_key(self, entry, event):
        from gi.repository import Gdk
        if event.keyval != Gdk.KEY_Escape:
            return False
        self.log("rename cancelled")
        entry.get_parent().remove(entry)
        self.rename_entry = None
        return True

    def on_run(self, _button):
        if self.pending_row is not None:
            self.run_waiting = True
            return
        row = self.list.get_selected_row()
        name = row.script_name if row is not None else ""
        self.log("run %s" % (name or "(nothing selected)"))
        if name != PROBE or self.options.no_answer:
            return
        if self.options.wrong_answer is not None:
            text = self.options.wrong_answer
        else:
            text = relay_answer(self.read_command_id())
        GLib.timeout_add(max(self.options.delay_ms, 0), self.open_alert, text)

    def read_command_id(self):
        self.runs += 1
        if not self.options.command_file:
            return ""
        try:
            with open(self.options.command_file, encoding="utf-8", newline="") as stream:
                text = stream.read()
        except OSError:
            return ""
        if not self.options.command_queue:
            return text
        ids = text.split("\n")
        return ids[self.runs - 1] if self.runs <= len(ids) else ""

    # ---- alerts --------------------------------------------------------------------------------

    def open_alert(self, text):
        if self.options.answer_file:
            write_atomically(self.options.answer_file, text)
        alert = Gtk.Window(title="CorelDRAW")
        alert.set_type_hint(1)  # Gdk.WindowTypeHint.DIALOG
        alert.set_resizable(False)
        alert.move(ALERT_ORIGIN[0] + 24 * len(self.alerts), ALERT_ORIGIN[1] + 24 * len(self.alerts))
        accessible = alert.get_accessible()
        accessible.set_role(Atk.Role.ALERT)
        accessible.set_description(ALERT_DESCRIPTION)
        alert.connect("map-event", self.on_mapped, "alert")

        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=12)
        box.set_border_width(12)
        box.pack_start(Gtk.Label(label=text, xalign=0, selectable=False), True, True, 0)
        buttons = Gtk.ButtonBox(orientation=Gtk.Orientation.HORIZONTAL)
        buttons.set_layout(Gtk.ButtonBoxStyle.END)
        button = Gtk.Button(label="Close" if self.options.alert_without_ok else "OK")
        button.connect("clicked", self.on_alert_button, alert)
        buttons.add(button)
        box.pack_start(buttons, False, False, 0)
        alert.add(box)
        alert.show_all()
        self.alerts.append(alert)
        self.log("alert opened")
        return False

    def on_alert_button(self, button, alert):
        self.log("alert closed by %s" % button.get_label())
        self.alerts.remove(alert)
        alert.destroy()

    # ---- geometry ------------------------------------------------------------------------------

    def geometry(self):
        """One line per widget: "<name> x y width height" in screen pixels."""
        widgets = [("inspector", self.inspector), ("list", self.scroller),
                   ("run", self.run_button)]
        for row in self.list.get_children():
            if row.script_name == PROBE:
                widgets.append(("row", row))
                widgets.append(("label", row.get_child().get_children()[0]))
        for number, alert in enumerate(self.alerts):
            widgets.append(("alert%d" % number, alert))
        return "".join("%s %d %d %d %d\n" % ((name,) + screen_rectangle(widget))
                       for name, widget in widgets)

    # ---- readiness -----------------------------------------------------------------------------

    def on_mapped(self, _widget, _event, which):
        self.mapped.add(which)
        return False

    def start(self):
        self.inspector.show_all()
        # Showing the list selects its first row; nothing is selected until a click, or the row
        # asked for is.
        self.list.unselect_all()
        if self.options.selected is not None:
            for row in self.list.get_children():
                if row.script_name == self.options.selected:
                    self.list.select_row(row)
        self.list.connect("row-selected", self.on_row_selected)
        if self.rename_entry is not None:
            self.inspector.set_focus(self.rename_entry)
        if self.options.alert_at_start is not None:
            self.open_alert(self.options.alert_at_start)
        GLib.timeout_add(20, self.announce_when_ready)

    def scroll_probe_half_out(self):
        """Scrolls the list until three fifths of the probe's row lie above its view; True once
        the list shows it so."""
        for row in self.list.get_children():
            if row.script_name != PROBE:
                continue
            allocation = row.get_allocation()
            if allocation.height <= 1:
                return False
            wanted = allocation.y + allocation.height * 3 // 5
            adjustment = self.scroller.get_vadjustment()
            if adjustment.get_upper() - adjustment.get_page_size() < wanted:
                return False
            if adjustment.get_value() != wanted:
                adjustment.set_value(wanted)
                return False
            return True
        return False

    def announce_when_ready(self):
        wanted = {"inspector"} | ({"alert"} if self.alerts else set())
        if not wanted <= self.mapped or not registered_on_accessibility_bus():
            return True
        if self.options.probe_scrolled_half_out and not self.scroll_probe_half_out():
            return True
        if self.options.geometry_file:
            write_atomically(self.options.geometry_file, self.geometry())
        write_atomically(self.options.ready_file, "%d\n" % os.getpid())
        self.log("ready")
        return False


def screen_rectangle(widget):
    toplevel = widget.get_toplevel()
    _, origin_x, origin_y = toplevel.get_window().get_origin()
    x, y = (0, 0) if widget is toplevel else widget.translate_coordinates(toplevel, 0, 0)
    allocation = widget.get_allocation()
    return origin_x + x, origin_y + y, allocation.width, allocation.height


def registered_on_accessibility_bus():
    """True once the accessibility registry lists an application of this process."""
    try:
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                     "GetAddress", None, GLib.VariantType("(s)"),
                                     Gio.DBusCallFlags.NONE, 2000, None).unpack()[0]
        bus = Gio.DBusConnection.new_for_address_sync(
            address,
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        try:
            children = bus.call_sync("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                     "org.a11y.atspi.Accessible", "GetChildren", None,
                                     GLib.VariantType("(a(so))"), Gio.DBusCallFlags.NONE, 2000,
                                     None).unpack()[0]
            for name, _path in children:
                pid = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                    GLib.Variant("(s)", (name,)), GLib.VariantType("(u)"),
                                    Gio.DBusCallFlags.NONE, 2000, None).unpack()[0]
                if pid == os.getpid():
                    return True
            return False
        finally:
            bus.close_sync(None)
    except GLib.Error:
        return False


class Cover:
    """One plain, undecorated window of this process at a screen rectangle."""

    def __init__(self, options):
        self.options = options
        x, y, width, height = (int(number) for number in options.cover.split())
        self.window = Gtk.Window(title="Cover")
        self.window.set_decorated(False)
        self.window.set_resizable(False)
        self.window.set_size_request(width, height)
        self.window.move(x, y)
        self.window.connect("destroy", Gtk.main_quit)
        self.window.connect("map-event", self.on_mapped)
        self.mapped = False

    def on_mapped(self, _widget, _event):
        self.mapped = True
        return False

    def start(self):
        self.window.show_all()
        GLib.timeout_add(20, self.announce_when_ready)
        # Back on top every 10 ms, like a window that keeps itself above the others: bringing
        # another application to the front does not uncover what lies below this window for long.
        GLib.timeout_add(10, self.raise_window)

    def raise_window(self):
        self.window.get_window().raise_()
        return True

    def announce_when_ready(self):
        if not self.mapped:
            return True
        write_atomically(self.options.ready_file, "%d\n" % os.getpid())
        return False


def main(argv):
    options = parse_arguments(argv)
    if options.cover:
        GLib.set_prgname("tessary-test-cover")
        Cover(options).start()
        Gtk.main()
        return 0
    # The program name is what the accessibility bridge reports as the application's name.
    GLib.set_prgname(BUNDLE_IDENTIFIER)
    GLib.set_application_name(BUNDLE_IDENTIFIER)
    stand_in = StandIn(options)
    stand_in.start()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
