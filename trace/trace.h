// The run's timeline in a trace file: when TESSARY_TRACE holds an absolute path, every
// operation that crosses the platform seam appends one line there (the line format is described
// in doc/trace.md). Nothing the run shows its host changes: standard output, standard error, the
// exit status and the result file are the same with and without a trace, and every error of the
// trace file is ignored.
//
// The functions below that share a name with a seam operation perform that operation and write
// its line; the core reaches them through the wrappers in trace/traced.h, only while a trace is
// written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace trace {

// The version of the line format, written in every `start` line. It changes whenever a replay
// of an older trace would read it differently: an event, a field or a value written otherwise.
// 2: the `boolean` answer kind, and the written text in the `write` line.
// 3: the activation's answer (`allowed=` of the `activate` line).
// 4: tessary-doctor's runs (`tool=doctor` in `start`) and its questions: `post-access`,
//    `frontmost`, `own-pid`, `process`, `lock-test`, `clock`.
// 5: the version and commit of the program that wrote the trace (`build=` in `start`).
inline constexpr int kVersion = 5;
inline constexpr const char* kVersionText = "5";
// The oldest version a replay still reads: its `activate` lines carry no answer, which a replay
// serves as unknown.
inline constexpr int kOldestReadVersion = 2;

// True from `start` to `finish` when the run writes a trace.
extern bool enabled;

// Opens the trace file named by TESSARY_TRACE, if any, and writes the run's arguments. Unset,
// empty or relative, or a file that cannot be opened or is no regular file: no trace, and the
// run is not told.
// `tool`, when not empty, names the program that is not tessary itself (`tool=doctor`), so that
// a replay runs that program's code.
void start(int argc, const char* const* argv, std::string_view tool = {});

// Keeps the failure line, as written to standard error, for the end of the trace.
void noteFailure(std::string_view line);

// Writes the end: the exit status and the failure line, if any; closes the file.
void finish(int status);

bool isProcessTrusted();
std::vector<platform::Application> runningApplications(std::string_view bundleIdentifier);
std::int64_t processIdentifier(const platform::Application& application);
platform::Activation activate(const platform::Application& application);
platform::PointOwner ownerAt(platform::Point point);
bool holdRunLock();
platform::Element createApplicationElement(std::int64_t processId);
platform::Element retainElement(const platform::Element& element);
platform::AttributeResult copyAttributeValue(const platform::Element& element, std::string_view attribute);
std::int32_t performAction(const platform::Element& element, std::string_view action);
std::optional<platform::Event> createMouseEvent(platform::MouseEventType type, platform::Point position,
                                                platform::MouseButton button);
std::optional<platform::Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown);
void postEvent(const platform::Event& event);
void sleepMicroseconds(std::uint32_t microseconds);
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text);
bool mayPostEvents();
std::int64_t frontmostProcess();
std::int64_t ownProcessId();
std::optional<platform::ProcessEntry> processEntry(std::int64_t processId);
platform::LockTest testRunLock();
std::int64_t monotonicMicroseconds();

}  // namespace trace
