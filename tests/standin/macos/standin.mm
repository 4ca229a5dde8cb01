// A stand-in for CorelDRAW 2022 on macOS, for tessary's end-to-end cases and for trying the tool
// on a Mac before CorelDRAW. The Cocoa counterpart of tests/standin/standin.py: the same scene,
// the same options and the same event log lines, so that one table of cases
// (tests/e2e/cases.txt) drives either stand-in.
//
// Built as an application bundle whose CFBundleIdentifier is
// "com.corel.coreldrawsuite.2022.coreldraw" (Info.plist.in). What tessary reads comes from
// AppKit's own accessibility of ordinary controls:
//
//   * a Scripts inspector window: an NSScrollView (AXScrollArea) holding an NSOutlineView
//     (AXOutline) whose rows (AXRow) each hold a label (AXStaticText) whose AXValue names the
//     script, RelayTransportProbe among them;
//   * a Run button (AXButton) under the point 16 points right of the list's left edge and 14
//     points above the window's bottom edge;
//   * a click in a row selects it; Run with RelayTransportProbe selected opens an alert window
//     whose first label is the relay answer and whose button "OK" closes it. The alert's
//     AXDescription "警告" is the one accessibility property given by hand, as the window's
//     accessibility label (AlertWindow overrides -accessibilityLabel of the NSAccessibility
//     protocol, which AppKit reports as AXDescription): a plain window has no description.
//
// Options (all optional here; see standin.py for their meaning): --ready-file, --command-file,
// --command-queue, --event-log, --answer-file, --geometry-file, --delay-ms, --wrong-answer,
// --no-answer, --alert-at-start, --alert-without-ok, --rename, --no-probe, --rows, --selected,
// --probe-scrolled-half-out, --probe-takes-no-selection, --selection-lag-ms, --cover, --front.
// It is started as an application is, through Launch Services (`open -n CorelDRAWStandIn.app
// --args ...`): every path it is given is absolute, since its working folder is then "/".
// Geometry is written in global screen points, origin at the top-left corner of the main
// display, y growing downward: the space of accessibility positions and of posted clicks.
//
// With --cover "X Y WIDTH HEIGHT" the program shows nothing but one plain window at that screen
// rectangle, above the windows of every application; it is built a second time as a bundle of
// another identifier (TessaryCover.app), so that it is a window of another application. With
// --front "X Y WIDTH HEIGHT" it is instead an ordinary application with one window at that
// rectangle that takes the front: the application a user was in when a run begins.
#import <AppKit/AppKit.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#if !__has_feature(objc_arc)
#error "standin.mm must be compiled with ARC (-fobjc-arc)"
#endif

namespace {

constexpr const char* kProbe = "RelayTransportProbe";
const std::vector<std::string> kFiveScripts{"AutoSaveBackup", "BatchExportPNG", kProbe, "RenumberPages",
                                            "TrimMarks"};

// Geometry of the Scripts inspector, in points, as the GTK stand-in's pixels: window content
// from its top-left corner.
constexpr CGFloat kInspectorLeft = 120, kInspectorTop = 90;
constexpr CGFloat kInspectorWidth = 320, kInspectorHeight = 420;
constexpr CGFloat kListLeft = 8, kListTop = 8, kListWidth = 304, kListHeight = 360;
constexpr CGFloat kRunLeft = 8, kRunTop = 380, kRunWidth = 96, kRunHeight = 32;
constexpr CGFloat kAlertLeft = 520, kAlertTop = 160;
constexpr CGFloat kRowHeight = 24;

struct Options {
    std::string readyFile;
    std::string commandFile;
    std::string eventLog;
    std::string answerFile;
    std::string geometryFile;
    int delayMs = 300;
    std::optional<std::string> wrongAnswer;
    bool noAnswer = false;
    std::optional<std::string> alertAtStart;
    bool alertWithoutOk = false;
    bool rename = false;
    bool noProbe = false;
    int rows = 0;
    bool commandQueue = false;
    std::optional<std::string> selected;
    bool probeScrolledHalfOut = false;
    bool probeTakesNoSelection = false;
    int selectionLagMs = 0;
    std::optional<std::string> cover;
    std::optional<std::string> front;
};

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr, "standin: %s\n", problem.c_str());
    std::exit(2);
}

int number(const std::string& option, const std::string& digits) {
    int value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9' || value > 100000) usage(option + " takes a number: " + digits);
        value = value * 10 + (digit - '0');
    }
    if (digits.empty()) usage(option + " takes a number");
    return value;
}

// "--name value" and "--name=value", as Python's argparse takes them. Arguments of one dash
// ("-AppleLanguages (ja)", "-psn_...") belong to AppKit and are passed over with their value.
Options parseOptions(int argc, const char* argv[]) {
    Options options;
    for (int index = 1; index < argc; ++index) {
        std::string name = argv[index];
        if (name.rfind("--", 0) != 0) {
            if (name.rfind("-psn_", 0) == 0) continue;
            if (name.rfind("-", 0) == 0 && name.size() > 1) {
                ++index;
                continue;
            }
            usage("unexpected argument: " + name);
        }
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.erase(equals);
        }
        const auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (index + 1 >= argc) usage(name + " needs a value");
            return argv[++index];
        };
        if (name == "--ready-file") options.readyFile = value();
        else if (name == "--command-file") options.commandFile = value();
        else if (name == "--event-log") options.eventLog = value();
        else if (name == "--answer-file") options.answerFile = value();
        else if (name == "--geometry-file") options.geometryFile = value();
        else if (name == "--delay-ms") options.delayMs = number(name, value());
        else if (name == "--wrong-answer") options.wrongAnswer = value();
        else if (name == "--no-answer") options.noAnswer = true;
        else if (name == "--alert-at-start") options.alertAtStart = value();
        else if (name == "--alert-without-ok") options.alertWithoutOk = true;
        else if (name == "--rename") options.rename = true;
        else if (name == "--no-probe") options.noProbe = true;
        else if (name == "--rows") options.rows = number(name, value());
        else if (name == "--command-queue") options.commandQueue = true;
        else if (name == "--selected") options.selected = value();
        else if (name == "--probe-scrolled-half-out") options.probeScrolledHalfOut = true;
        else if (name == "--probe-takes-no-selection") options.probeTakesNoSelection = true;
        else if (name == "--selection-lag-ms") options.selectionLagMs = number(name, value());
        else if (name == "--cover") options.cover = value();
        else if (name == "--front") options.front = value();
        else usage("unknown option: " + name);
    }
    return options;
}

std::vector<std::string> scriptNames(const Options& options) {
    const int rows = options.probeScrolledHalfOut && options.rows == 0 ? 30 : options.rows;
    std::vector<std::string> names;
    if (rows > 0) {
        char name[32];
        for (int row = 0; row < rows; ++row) {
            std::snprintf(name, sizeof name, "Script%05d", row);
            names.emplace_back(name);
        }
        if (names.size() >= 3) {
            names[2] = kProbe;
        } else {
            names.emplace_back(kProbe);
        }
    } else {
        names = kFiveScripts;
    }
    if (options.noProbe) std::erase(names, std::string(kProbe));
    return names;
}

// The file replaced in one step: a reader sees the old content or the new, never a part.
bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

void writeAtomically(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const bool written = writeAll(fd, text);
    if (close(fd) == 0 && written) {
        rename(temporary.c_str(), path.c_str());
    } else {
        unlink(temporary.c_str());
    }
}

std::optional<std::string> readWhole(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) content.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return content;
}

std::string relayAnswer(const std::string& commandId) {
    return "TALVO_RELAY_BEGIN_" + commandId + "\nrelay answer for " + commandId + ": Grüße, ✓ ok\nTALVO_RELAY_END_" +
           commandId;
}

NSString* text(const std::string& utf8) {
    NSString* string = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSUTF8StringEncoding];
    return string != nil ? string : @"";
}

std::string utf8(NSString* string) {
    const char* bytes = string.UTF8String;
    return bytes != nullptr ? bytes : "";
}

// The height of the main display, which holds the origin of both coordinate spaces: AppKit's
// (bottom-left, y up) and the accessibility one (top-left, y down).
CGFloat mainDisplayHeight() {
    NSArray<NSScreen*>* screens = NSScreen.screens;
    return screens.count > 0 ? screens[0].frame.size.height : 0;
}

// A window's or view's screen rectangle in accessibility space.
NSRect topLeftRectangle(NSRect appKitRectangle) {
    return NSMakeRect(appKitRectangle.origin.x,
                      mainDisplayHeight() - appKitRectangle.origin.y - appKitRectangle.size.height,
                      appKitRectangle.size.width, appKitRectangle.size.height);
}

NSRect screenRectangle(NSView* view, NSRect rectangle) {
    return topLeftRectangle([view.window convertRectToScreen:[view convertRect:rectangle toView:nil]]);
}

// A view's frame given from the top-left corner of a content area of this height.
NSRect fromTop(CGFloat left, CGFloat top, CGFloat width, CGFloat height, CGFloat contentHeight) {
    return NSMakeRect(left, contentHeight - top - height, width, height);
}

}  // namespace

// CorelDRAW's alert window: its description, "警告", is its accessibility label, which AppKit
// reports as AXDescription. The NSAccessibility protocol documents -accessibilityLabel for
// windows; overriding it holds whatever AppKit would set or reset on the window later.
@interface AlertWindow : NSWindow
@end

@implementation AlertWindow

- (NSString*)accessibilityLabel {
    return @"警告";
}

@end

// What the script list asks of the stand-in once a lagging selection is due.
@protocol PendingSelection
- (void)selectPendingRow;
@end

// The script list. With a selection lag, a click selects its row only that much after the
// button is released, as a busy application would; the list's own handling, which would select
// at once, is left out.
@interface ScriptOutlineView : NSOutlineView
@property(nonatomic) int selectionLagMs;
@property(nonatomic) NSInteger pendingRow;
@property(nonatomic, weak) NSObject<PendingSelection>* selector;
@end

@implementation ScriptOutlineView

- (void)mouseDown:(NSEvent*)event {
    if (self.selectionLagMs <= 0) [super mouseDown:event];
}

- (void)mouseUp:(NSEvent*)event {
    if (self.selectionLagMs <= 0) {
        [super mouseUp:event];
        return;
    }
    const NSInteger row = [self rowAtPoint:[self convertPoint:event.locationInWindow fromView:nil]];
    if (row < 0) return;
    // A row that takes no selection leaves nothing pending, as in the GTK stand-in.
    id<NSOutlineViewDelegate> delegate = self.delegate;
    if ([delegate respondsToSelector:@selector(outlineView:shouldSelectItem:)] &&
        ![delegate outlineView:self shouldSelectItem:[self itemAtRow:row]]) {
        return;
    }
    self.pendingRow = row;
    [self.selector performSelector:@selector(selectPendingRow) withObject:nil afterDelay:self.selectionLagMs / 1000.0];
}

@end

@interface StandIn : NSObject <NSApplicationDelegate, NSOutlineViewDataSource, NSOutlineViewDelegate, NSTextFieldDelegate,
                               PendingSelection>
- (instancetype)initWithOptions:(const Options&)options;
@end

@implementation StandIn {
    Options _options;
    NSArray<NSString*>* _names;
    NSWindow* _inspector;
    NSScrollView* _scroller;
    ScriptOutlineView* _list;
    NSButton* _run;
    NSTextField* _renameField;
    NSMutableArray<NSWindow*>* _alerts;
    BOOL _logSelections;
    BOOL _runWaiting;
    int _runs;
}

- (instancetype)initWithOptions:(const Options&)options {
    self = [super init];
    if (self != nil) {
        _options = options;
        NSMutableArray<NSString*>* names = [NSMutableArray array];
        for (const std::string& name : scriptNames(options)) [names addObject:text(name)];
        _names = names;
        _alerts = [NSMutableArray array];
    }
    return self;
}

// ---- log -------------------------------------------------------------------------------------

- (void)log:(const std::string&)line {
    if (_options.eventLog.empty()) return;
    const int fd = open(_options.eventLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string whole = line + "\n";
    const ssize_t written = write(fd, whole.data(), whole.size());
    (void)written;
    close(fd);
}

// ---- Scripts inspector -----------------------------------------------------------------------

- (void)buildInspector {
    _inspector = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, kInspectorWidth, kInspectorHeight)
                                             styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                                       NSWindowStyleMaskMiniaturizable
                                               backing:NSBackingStoreBuffered
                                                 defer:NO];
    _inspector.releasedWhenClosed = NO;
    _inspector.title = @"Scripts";
    NSView* content = _inspector.contentView;

    _scroller = [[NSScrollView alloc] initWithFrame:fromTop(kListLeft, kListTop, kListWidth, kListHeight, kInspectorHeight)];
    _scroller.borderType = NSNoBorder;
    _scroller.hasVerticalScroller = YES;
    _scroller.hasHorizontalScroller = NO;

    _list = [[ScriptOutlineView alloc] initWithFrame:NSMakeRect(0, 0, kListWidth, kListHeight)];
    _list.style = NSTableViewStylePlain;
    _list.headerView = nil;
    _list.rowHeight = kRowHeight;
    _list.allowsMultipleSelection = NO;
    _list.allowsEmptySelection = YES;
    _list.pendingRow = -1;
    _list.selectionLagMs = _options.selectionLagMs;
    NSTableColumn* column = [[NSTableColumn alloc] initWithIdentifier:@"script"];
    column.width = kListWidth;
    [_list addTableColumn:column];
    _list.outlineTableColumn = column;
    _list.columnAutoresizingStyle = NSTableViewUniformColumnAutoresizingStyle;
    _list.dataSource = self;
    _list.delegate = self;
    _list.selector = self;
    _scroller.documentView = _list;
    [content addSubview:_scroller];

    _run = [NSButton buttonWithTitle:@"Run" target:self action:@selector(runPressed:)];
    _run.frame = fromTop(kRunLeft, kRunTop, kRunWidth, kRunHeight, kInspectorHeight);
    [content addSubview:_run];

    [_list reloadData];
    [_inspector setFrameTopLeftPoint:NSMakePoint(kInspectorLeft, mainDisplayHeight() - kInspectorTop)];
}

- (NSInteger)outlineView:(NSOutlineView*)outlineView numberOfChildrenOfItem:(id)item {
    (void)outlineView;
    return item == nil ? static_cast<NSInteger>(_names.count) : 0;
}

- (id)outlineView:(NSOutlineView*)outlineView child:(NSInteger)index ofItem:(id)item {
    (void)outlineView;
    (void)item;
    return _names[static_cast<NSUInteger>(index)];
}

- (BOOL)outlineView:(NSOutlineView*)outlineView isItemExpandable:(id)item {
    (void)outlineView;
    (void)item;
    return NO;
}

- (NSView*)outlineView:(NSOutlineView*)outlineView viewForTableColumn:(NSTableColumn*)tableColumn item:(id)item {
    (void)outlineView;
    (void)tableColumn;
    NSString* name = item;
    NSTableCellView* cell = [[NSTableCellView alloc] initWithFrame:NSMakeRect(0, 0, kListWidth, kRowHeight)];
    NSTextField* label = [NSTextField labelWithString:name];
    label.frame = NSMakeRect(6, 3, 150, kRowHeight - 6);
    [cell addSubview:label];
    cell.textField = label;
    // A rename open in the row: an editable field (AXTextField) that Escape closes.
    if (_options.rename && [name isEqualToString:text(kProbe)] && _renameField == nil) {
        NSTextField* field = [NSTextField textFieldWithString:name];
        field.frame = NSMakeRect(160, 1, 130, kRowHeight - 2);
        field.delegate = self;
        [cell addSubview:field];
        _renameField = field;
    }
    return cell;
}

- (BOOL)outlineView:(NSOutlineView*)outlineView shouldSelectItem:(id)item {
    (void)outlineView;
    return !(_options.probeTakesNoSelection && [item isEqualToString:text(kProbe)]);
}

- (void)outlineViewSelectionDidChange:(NSNotification*)notification {
    (void)notification;
    const NSInteger row = _list.selectedRow;
    if (_logSelections && row >= 0) [self log:"select " + utf8(_names[static_cast<NSUInteger>(row)])];
}

- (void)selectPendingRow {
    const NSInteger row = _list.pendingRow;
    _list.pendingRow = -1;
    if (row >= 0 && [self outlineView:_list shouldSelectItem:[_list itemAtRow:row]]) {
        [_list selectRowIndexes:[NSIndexSet indexSetWithIndex:static_cast<NSUInteger>(row)] byExtendingSelection:NO];
    }
    if (_runWaiting) {
        _runWaiting = NO;
        [self runPressed:_run];
    }
}

- (BOOL)control:(NSControl*)control textView:(NSTextView*)textView doCommandBySelector:(SEL)commandSelector {
    (void)textView;
    if (control != _renameField || commandSelector != @selector(cancelOperation:)) return NO;
    [self log:"rename cancelled"];
    // Removed once the field editor has finished with the key.
    [self performSelector:@selector(closeRename) withObject:nil afterDelay:0];
    return YES;
}

- (void)closeRename {
    [_renameField abortEditing];
    [_renameField removeFromSuperview];
    _renameField = nil;
    [_inspector makeFirstResponder:nil];
}

- (void)runPressed:(id)sender {
    (void)sender;
    if (_list.pendingRow >= 0) {
        _runWaiting = YES;
        return;
    }
    const NSInteger row = _list.selectedRow;
    const std::string name = row >= 0 ? utf8(_names[static_cast<NSUInteger>(row)]) : "";
    [self log:"run " + (name.empty() ? std::string("(nothing selected)") : name)];
    if (name != kProbe || _options.noAnswer) return;
    const std::string answer = _options.wrongAnswer ? *_options.wrongAnswer : relayAnswer([self readCommandId]);
    [self performSelector:@selector(openAlertWithText:) withObject:text(answer) afterDelay:_options.delayMs / 1000.0];
}

// The command file, read afresh at every Run; with --command-queue its n-th line for the n-th.
- (std::string)readCommandId {
    ++_runs;
    if (_options.commandFile.empty()) return "";
    const std::optional<std::string> content = readWhole(_options.commandFile);
    if (!content) return "";
    if (!_options.commandQueue) return *content;
    std::size_t start = 0;
    for (int line = 1; line < _runs; ++line) {
        const std::size_t end = content->find('\n', start);
        if (end == std::string::npos) return "";
        start = end + 1;
    }
    return content->substr(start, content->find('\n', start) - start);
}

// ---- alerts ----------------------------------------------------------------------------------

- (void)openAlertWithText:(NSString*)answerText {
    [self openAlert:utf8(answerText)];
}

- (void)openAlert:(const std::string&)answer {
    writeAtomically(_options.answerFile, answer);
    NSTextField* message = [NSTextField wrappingLabelWithString:text(answer)];
    message.preferredMaxLayoutWidth = 420;
    const NSSize messageSize = message.fittingSize;
    const CGFloat width = std::max<CGFloat>(messageSize.width + 32, 260);
    const CGFloat height = messageSize.height + 76;

    NSWindow* alert = [[AlertWindow alloc] initWithContentRect:NSMakeRect(0, 0, width, height)
                                                     styleMask:NSWindowStyleMaskTitled
                                                       backing:NSBackingStoreBuffered
                                                         defer:NO];
    alert.releasedWhenClosed = NO;
    alert.title = @"CorelDRAW";
    message.frame = NSMakeRect(16, 60, messageSize.width, messageSize.height);
    [alert.contentView addSubview:message];
    NSButton* button = [NSButton buttonWithTitle:_options.alertWithoutOk ? @"Close" : @"OK"
                                          target:self
                                          action:@selector(alertButtonPressed:)];
    button.frame = NSMakeRect(width - 16 - 88, 14, 88, 32);
    [alert.contentView addSubview:button];

    const CGFloat shift = 24 * static_cast<CGFloat>(_alerts.count);
    [alert setFrameTopLeftPoint:NSMakePoint(kAlertLeft + shift, mainDisplayHeight() - kAlertTop - shift)];
    [_alerts addObject:alert];
    [alert makeKeyAndOrderFront:nil];
    [self log:"alert opened"];
}

- (void)alertButtonPressed:(NSButton*)button {
    NSWindow* alert = button.window;
    [self log:"alert closed by " + utf8(button.title)];
    [_alerts removeObject:alert];
    [alert close];
}

// ---- geometry and readiness ------------------------------------------------------------------

// One line per widget: "<name> x y width height" in screen points, top-left origin.
- (std::string)geometry {
    std::string lines;
    const auto add = [&lines](const std::string& name, NSRect r) {
        char line[160];
        std::snprintf(line, sizeof line, "%s %.0f %.0f %.0f %.0f\n", name.c_str(), r.origin.x, r.origin.y,
                      r.size.width, r.size.height);
        lines += line;
    };
    add("inspector", topLeftRectangle(_inspector.frame));
    add("list", screenRectangle(_scroller, _scroller.bounds));
    add("run", screenRectangle(_run, _run.bounds));
    const NSInteger probe = [_names indexOfObject:text(kProbe)];
    if (probe != NSNotFound) {
        add("row", screenRectangle(_list, [_list rectOfRow:probe]));
        NSTableCellView* cell = [_list viewAtColumn:0 row:probe makeIfNecessary:NO];
        if (cell.textField != nil) add("label", screenRectangle(cell.textField, cell.textField.bounds));
    }
    for (NSUInteger index = 0; index < _alerts.count; ++index) {
        add("alert" + std::to_string(index), topLeftRectangle(_alerts[index].frame));
    }
    return lines;
}

// Scrolls the list until three fifths of the probe's row lie above its view.
- (void)scrollProbeHalfOut {
    const NSInteger probe = [_names indexOfObject:text(kProbe)];
    if (probe == NSNotFound) return;
    const NSRect row = [_list rectOfRow:probe];
    [_list scrollPoint:NSMakePoint(0, row.origin.y + row.size.height * 3 / 5)];
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    [self buildInspector];
    [_inspector makeKeyAndOrderFront:nil];
    if (_options.selected) {
        const NSInteger row = [_names indexOfObject:text(*_options.selected)];
        if (row != NSNotFound) {
            [_list selectRowIndexes:[NSIndexSet indexSetWithIndex:static_cast<NSUInteger>(row)] byExtendingSelection:NO];
        }
    }
    _logSelections = YES;
    if (_options.probeScrolledHalfOut) [self scrollProbeHalfOut];
    if (_renameField != nil) [_inspector makeFirstResponder:_renameField];
    if (_options.alertAtStart) [self openAlert:*_options.alertAtStart];
    [NSApp activate];
    // Ready once the windows have been drawn and the run loop serves accessibility requests.
    [self performSelector:@selector(announceReady) withObject:nil afterDelay:0.3];
}

- (void)announceReady {
    if (!_options.geometryFile.empty()) writeAtomically(_options.geometryFile, [self geometry]);
    if (!_options.readyFile.empty()) writeAtomically(_options.readyFile, std::to_string(getpid()) + "\n");
    [self log:"ready"];
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    (void)sender;
    return NO;
}

@end

// One plain window at a screen rectangle, kept above the windows of every application.
@interface Cover : NSObject <NSApplicationDelegate>
- (instancetype)initWithOptions:(const Options&)options;
@end

@implementation Cover {
    Options _options;
    NSWindow* _window;
}

- (instancetype)initWithOptions:(const Options&)options {
    self = [super init];
    if (self != nil) _options = options;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    const bool front = _options.front.has_value();
    NSScanner* scanner = [NSScanner scannerWithString:text(front ? *_options.front : *_options.cover)];
    double x = 0, y = 0, width = 0, height = 0;
    if (![scanner scanDouble:&x] || ![scanner scanDouble:&y] || ![scanner scanDouble:&width] ||
        ![scanner scanDouble:&height] || !scanner.atEnd) {
        usage(front ? "--front takes \"X Y WIDTH HEIGHT\"" : "--cover takes \"X Y WIDTH HEIGHT\"");
    }
    _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(x, mainDisplayHeight() - y - height, width, height)
                                          styleMask:NSWindowStyleMaskBorderless
                                            backing:NSBackingStoreBuffered
                                              defer:NO];
    _window.releasedWhenClosed = NO;
    _window.hidesOnDeactivate = NO;
    if (front) {
        // An ordinary window of the application in front, at the normal level.
        _window.title = @"Another application";
        _window.backgroundColor = NSColor.systemTealColor;
        [_window makeKeyAndOrderFront:nil];
        [NSApp activate];
    } else {
        _window.title = @"Cover";
        _window.backgroundColor = NSColor.systemOrangeColor;
        _window.level = NSFloatingWindowLevel;
        [_window orderFrontRegardless];
    }
    [self performSelector:@selector(announceReady) withObject:nil afterDelay:0.3];
}

- (void)announceReady {
    writeAtomically(_options.readyFile, std::to_string(getpid()) + "\n");
}

@end

namespace {

// NSApplication keeps its delegate weakly: the delegate lives here for the process's life.
id<NSApplicationDelegate> applicationDelegate;

}  // namespace

int main(int argc, const char* argv[]) {
    @autoreleasepool {
        const Options options = parseOptions(argc, argv);
        NSApplication* application = NSApplication.sharedApplication;
        if (options.front) {
            // An ordinary application that takes the front.
            application.activationPolicy = NSApplicationActivationPolicyRegular;
            applicationDelegate = [[Cover alloc] initWithOptions:options];
        } else if (options.cover) {
            // No Dock icon and no activation of its own: the cover never takes the front.
            application.activationPolicy = NSApplicationActivationPolicyAccessory;
            applicationDelegate = [[Cover alloc] initWithOptions:options];
        } else {
            application.activationPolicy = NSApplicationActivationPolicyRegular;
            applicationDelegate = [[StandIn alloc] initWithOptions:options];
        }
        application.delegate = applicationDelegate;
        [application run];
    }
    return 0;
}
