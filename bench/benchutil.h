#pragma once
// Figures the benchmarks print.

#include <algorithm>
#include <vector>

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
