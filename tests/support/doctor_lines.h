// What tessary-doctor printed, read as a host reads it: one line per check, the verdict in its
// first 12 columns, then the check's name and ": ".
#pragma once

#include <map>
#include <string>
#include <vector>

// The lines of a text, without their line breaks.
std::vector<std::string> linesOf(const std::string& text);

// Each printed check's verdict ("ok", "fail" or "cannot tell"), by the check's name. A line too
// short to hold a verdict and a name is no check.
std::map<std::string, std::string> verdicts(const std::string& out);

// The whole line of the check with this name, or "" when none was printed.
std::string lineNamed(const std::string& out, const std::string& name);
