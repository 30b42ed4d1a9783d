#pragma once

#include <cstddef>
#include <vector>

namespace krv::bench {

struct Summary {
    std::size_t count = 0;
    double min = 0;
    double q1 = 0;
    double median = 0;
    double q3 = 0;
    double max = 0;
};

// Median and quartiles of the samples, each taken by linear interpolation
// between the two nearest ranks, so an even count gives the mean of the
// middle pair. Throws std::invalid_argument for no samples.
[[nodiscard]] Summary summarise(std::vector<double> samples);

// The value below which `fraction` (0..1) of the samples lie, interpolated
// as above. Throws std::invalid_argument for no samples or a fraction outside 0..1.
[[nodiscard]] double quantile(std::vector<double> samples, double fraction);

// A whole decimal number from minimum to 100000 from a command-line argument;
// false for anything else, which leaves value as it was.
[[nodiscard]] bool parseCount(const char *text, int minimum, int &value);

} // namespace krv::bench
