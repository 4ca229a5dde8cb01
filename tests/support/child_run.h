// Whole runs as the host sees them: the tool's entry, run in a child process over the fake
// desktop, with its exit status, both standard streams byte for byte, and what the fake saw.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake_desktop.h"

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> record;
    int liveElements = 0;
    std::int64_t clock = 0;
};

// The lines of the child's record whose first word is one of these ("get", "post", ...).
std::vector<std::string> recordOf(const Outcome& outcome, std::initializer_list<std::string_view> kinds);

// Installs `desktop`, then runs `tessary` with these arguments (program name excluded) in a
// forked child; `prepare` runs in the child after the install (to add fault hooks).
Outcome runTessary(fake::Desktop desktop, const std::vector<std::string>& arguments,
                   const std::function<void()>& prepare = {});

// Runs any function in a forked child and collects its streams and exit status.
Outcome runInChild(const std::function<int()>& body);

// A file's whole content, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// A fresh directory for one test, removed with everything in it when the test's process ends.
std::string scratchDirectory();

// The names in a directory, sorted.
std::vector<std::string> listDirectory(const std::string& path);
