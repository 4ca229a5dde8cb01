#include "bench/rows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace bench {

void appendRows(const std::string& path, const std::vector<Row>& rows) {
    std::ofstream file;
    if (!path.empty()) file.open(path, std::ios::app);
    std::ostream& out = path.empty() ? std::cout : file;
    for (const Row& row : rows) {
        out << row.part << '\t' << row.measure << '\t' << row.figure << '\t' << row.target << '\t' << row.verdict << '\n';
    }
}

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

Spread spread(std::vector<double> sample) {
    std::sort(sample.begin(), sample.end());
    const std::size_t n = sample.size();
    const double median = n % 2 == 1 ? sample[n / 2] : (sample[n / 2 - 1] + sample[n / 2]) / 2;
    return {sample.front(), median, sample.back()};
}

std::string spreadText(const Spread& s, int decimals, const std::string& unit) {
    return fixed(s.median, decimals) + " " + unit + " (" + fixed(s.min, decimals) + " .. " + fixed(s.max, decimals) + ")";
}

ToolOptions toolOptions(int argc, char** argv, int defaultRuns) {
    ToolOptions options;
    options.runs = defaultRuns;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--tessary") options.tessary = argv[++i];
        else if (flag == "--runs") options.runs = std::max(1, std::atoi(argv[++i]));
        else if (flag == "--rows-file") options.rowsFile = argv[++i];
    }
    return options;
}

}  // namespace bench
