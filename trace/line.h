// The building blocks of trace lines, shared by the files that trace the seam's operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

namespace trace {

using Clock = std::chrono::steady_clock;

// What an event was created as, so that its posting can say it again.
struct EventKind {
    std::uint32_t number = 0;
    bool mouse = true;
    platform::MouseEventType type = platform::MouseEventType::leftMouseDown;
    platform::Point position;
    std::uint16_t key = 0;
    bool keyDown = false;
};

struct State {
    int fd = -1;
    Clock::time_point start;
    std::string pid;   // the process id, written on every line
    std::string line;  // the line being built, kept to reuse its buffer
    // Element numbers by the address of the platform reference. A reference that arrives gets a
    // fresh number, even at an address seen before (freed and used again); a retained copy gets
    // its source's number.
    std::unordered_map<const void*, std::uint32_t> elements;
    std::uint32_t lastElement = 0;
    std::unordered_map<const void*, std::uint32_t> applications;
    std::uint32_t lastApplication = 0;
    std::unordered_map<const void*, EventKind> events;
    std::uint32_t lastEvent = 0;
    std::optional<std::string> failure;
};

// The trace of this run: its file, its clock, its numbers.
State& state();

std::int64_t nanosecondsSince(Clock::time_point from, Clock::time_point to);

// Starts the line of an event that began at `at`: "<ms> <pid> <event>".
std::string& begin(std::string_view event, Clock::time_point at);

// Appends " <key>=" and returns the line, for the value to follow.
std::string& field(std::string_view key);

void yesNo(std::string_view key, bool value);

// "#<number>".
void elementNumber(std::uint32_t number);

// " <key>=<x>,<y>".
void point(std::string_view key, platform::Point p);

// Ends the line with " took=<ms>" and writes it.
void end(Clock::time_point at);

// Writes the line as it stands, with its newline, in one write: a run killed meanwhile leaves
// whole lines only, and runs appending to one file never mix within a line.
void write();

// A fresh number for an element reference that has just arrived; 0 for none.
std::uint32_t received(const platform::Element& element);

// The number of a reference that arrived earlier (or of its retained copy); 0 when unknown.
std::uint32_t numberOf(const platform::Element& element);

std::uint32_t applicationNumber(const platform::Application& application);

}  // namespace trace
