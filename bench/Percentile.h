#pragma once
// The one order statistic the benchmarks print: the sample at `fraction` of the sorted samples
// (0.5 the median, 1.0 the worst); 0 for no samples.

#include <algorithm>
#include <cstddef>
#include <vector>

inline double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
}
