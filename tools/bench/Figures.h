#pragma once

#include <algorithm>
#include <vector>

namespace corvane::bench {

// Summary of a set of timings, in the unit they were measured in.
struct Figures {
    double median = 0;
    double p99 = 0;
    double mean = 0;
    double min = 0;
    double max = 0;
};

inline Figures summarize(std::vector<double> values)
{
    Figures f;
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    const auto at = [&values](double q) {
        return values[std::min(values.size() - 1, size_t(q * double(values.size() - 1) + 0.5))];
    };
    f.median = at(0.5);
    f.p99 = at(0.99);
    f.min = values.front();
    f.max = values.back();
    double sum = 0;
    for (double v : values)
        sum += v;
    f.mean = sum / double(values.size());
    return f;
}

} // namespace corvane::bench
