#include "trace/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "main/version.h"
#include "trace/format.h"
#include "trace/line.h"

namespace trace {

bool enabled = false;

State& state() {
    static State s;
    return s;
}

std::int64_t nanosecondsSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
}

std::string& begin(std::string_view event, Clock::time_point at) {
    State& s = state();
    s.line.clear();
    appendMilliseconds(s.line, nanosecondsSince(s.start, at));
    s.line.push_back(' ');
    s.line.append(s.pid);
    s.line.push_back(' ');
    s.line.append(event);
    return s.line;
}

std::string& field(std::string_view key) {
    std::string& line = state().line;
    line.push_back(' ');
    line.append(key);
    line.push_back('=');
    return line;
}

void yesNo(std::string_view key, bool value) { field(key).append(value ? "yes" : "no"); }

void elementNumber(std::uint32_t number) {
    std::string& line = state().line;
    line.push_back('#');
    appendInteger(line, number);
}

void point(std::string_view key, platform::Point p) {
    std::string& line = field(key);
    appendDouble(line, p.x);
    line.push_back(',');
    appendDouble(line, p.y);
}

void write() {
    State& s = state();
    s.line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(s.fd, s.line.data(), s.line.size());
}

void end(Clock::time_point at) {
    appendMilliseconds(field("took"), nanosecondsSince(at, Clock::now()));
    write();
}

std::uint32_t received(const platform::Element& element) {
    if (!element) return 0;
    State& s = state();
    return s.elements[element.get()] = ++s.lastElement;
}

std::uint32_t numberOf(const platform::Element& element) {
    const auto& elements = state().elements;
    const auto found = element ? elements.find(element.get()) : elements.end();
    return found == elements.end() ? 0 : found->second;
}

std::uint32_t applicationNumber(const platform::Application& application) {
    const auto& applications = state().applications;
    const auto found = application ? applications.find(application.get()) : applications.end();
    return found == applications.end() ? 0 : found->second;
}

namespace {

void closeFile() {
    State& s = state();
    if (s.fd >= 0) ::close(s.fd);
    s = State{};
    enabled = false;
}

// The trace file, opened for appending, or -1. It is never one of the standard streams' numbers
// (a process started with one of them closed would otherwise write its output into the trace),
// never inherited, never followed through a symbolic link, only a regular file (a FIFO or a
// device could block the run or reach a terminal), and only one of our own: a file that another
// user made in a shared directory would receive the arguments and the alert text.
int openTraceFile(const char* path) {
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return -1;
    if (fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        if (moved < 0) return -1;
        fd = moved;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace


void start(int argc, const char* const* argv, std::string_view tool) {
    closeFile();
    const char* path = std::getenv("TESSARY_TRACE");
    if (path == nullptr || path[0] != '/') return;
    State& s = state();
    s.start = Clock::now();
    s.fd = openTraceFile(path);
    if (s.fd < 0) return;
    appendInteger(s.pid, ::getpid());
    enabled = true;
    begin("start", s.start);
    field("version").append(kVersionText);
    appendQuoted(field("build"), tessary::build());
    if (!tool.empty()) field("tool").append(tool);
    appendInteger(field("argc"), argc);
    for (int i = 0; i < argc; ++i) appendQuoted(field("arg"), argv[i] == nullptr ? "" : argv[i]);
    write();
}

void noteFailure(std::string_view line) {
    if (enabled) state().failure.emplace(line);
}

void finish(int status) {
    if (!enabled) return;
    State& s = state();
    const Clock::time_point at = Clock::now();
    begin("end", at);
    appendInteger(field("status"), status);
    if (s.failure) appendQuoted(field("failure"), *s.failure);
    write();
    closeFile();
}
}  // namespace trace
