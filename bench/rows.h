// The lines of the one table that bench/run prints: each benchmark program appends its rows to
// a file, one row a line, fields separated by tabs: part, measure, figure, target, verdict.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string part;
    std::string measure;
    std::string figure;
    std::string target;   // "" when the row has none
    std::string verdict;  // "met", "MISSED" or ""
};

// Appends the rows to the file, or to standard output for an empty path.
void appendRows(const std::string& path, const std::vector<Row>& rows);

std::string verdict(bool met);

// A number with a fixed count of decimals.
std::string fixed(double value, int decimals);

// The median, minimum and maximum of a non-empty sample.
struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};
Spread spread(std::vector<double> sample);

// "median (min .. max)" with a unit and a count of decimals.
std::string spreadText(const Spread& s, int decimals, const std::string& unit);

// The options of the programs that run the tessary binary: --tessary PATH, --runs N,
// --rows-file FILE. `tessary` is empty when the option is missing.
struct ToolOptions {
    std::string tessary;
    std::string rowsFile;
    int runs = 0;
};
ToolOptions toolOptions(int argc, char** argv, int defaultRuns);

}  // namespace bench
