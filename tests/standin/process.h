// Child processes for the Linux tests: running a program to its end with its standard streams
// captured, and starting, watching and stopping the CorelDRAW stand-in (standin.py).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace standin {

struct ProcessResult {
    int exitStatus = -1;  // the exit status, or -1 when the process did not exit normally
    std::string standardOutput;
    std::string standardError;
};

// Runs the program (argv[0] is its path) with the environment changes given as "NAME=value"
// (set) or "NAME" (removed), no standard input, and waits for its end.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environmentChanges = {});

// One running stand-in and the files through which it talks to the test.
struct StandIn {
    pid_t pid = -1;
    std::string directory;    // a fresh directory of its own, removed by `stop`
    std::string commandFile;  // the command id to answer, read at every Run
    std::string eventLog;     // one line per event: "select RelayTransportProbe", "run ...", ...
    std::string answerFile;   // the text of the latest alert
    std::string geometryFile; // screen geometry of the widgets, as GTK sees it
};

// Starts the stand-in with these options (see standin.py --help) and waits until it is ready:
// its windows drawn and its application registered on the accessibility bus. Nothing when it
// did not become ready within the time given.
std::optional<StandIn> start(const std::vector<std::string>& options,
                             std::chrono::milliseconds patience = std::chrono::seconds(30));

// Ends the stand-in (SIGTERM, resumed if a test left it stopped; SIGKILL when it has not ended
// within a bound) and removes its directory.
void stop(StandIn& standIn);

// Writes the command id that the stand-in answers at the next Run.
void setCommandId(const StandIn& standIn, const std::string& commandId);

// The lines of the event log so far.
std::vector<std::string> events(const StandIn& standIn);

// Waits until the event log holds this line `times` times; false when it did not come in time.
bool waitForEvent(const StandIn& standIn, const std::string& line, std::size_t times = 1,
                  std::chrono::milliseconds patience = std::chrono::seconds(10));

// A pipe whose two ends no program started from here inherits: pipe, then FD_CLOEXEC on each end
// (macOS has no pipe2). False, with nothing left open, when either step fails. The flags are set
// after the pipe exists, so a thread that starts a program meanwhile could hand the ends on: call
// it where no other thread starts programs.
bool closeOnExecPipe(int ends[2]);

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// One widget's frame in screen points, as the stand-in writes it to its geometry file.
struct WidgetFrame {
    double x = 0, y = 0, width = 0, height = 0;
};

// The stand-in's geometry file, "<name> x y width height" a line, by widget name; empty when it
// cannot be read.
std::map<std::string, WidgetFrame> widgetFrames(const StandIn& standIn);

// The sockets on which GTK applications of the private desktop offer their direct connection:
// $XDG_RUNTIME_DIR/at-spi2-socket-<pid> for root, $XDG_RUNTIME_DIR/at-spi2-XXXXXX/socket for
// other users.
std::vector<std::filesystem::path> directSockets();

}  // namespace standin
