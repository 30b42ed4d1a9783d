#include "Stats.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace krv::bench {
namespace {

// `sorted` must be sorted and not empty.
double interpolate(const std::vector<double> &sorted, double fraction) {
    const double position = fraction * double(sorted.size() - 1);
    const auto below = std::size_t(std::floor(position));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = position - double(below);
    return sorted[below] + (sorted[above] - sorted[below]) * weight;
}

} // namespace

double quantile(std::vector<double> samples, double fraction) {
    if (samples.empty())
        throw std::invalid_argument("no samples");
    if (!(fraction >= 0.0 && fraction <= 1.0))
        throw std::invalid_argument("quantile fraction outside 0..1");
    std::sort(samples.begin(), samples.end());
    return interpolate(samples, fraction);
}

Summary summarise(std::vector<double> samples) {
    if (samples.empty())
        throw std::invalid_argument("no samples");
    std::sort(samples.begin(), samples.end());
    Summary s;
    s.count = samples.size();
    s.min = samples.front();
    s.q1 = interpolate(samples, 0.25);
    s.median = interpolate(samples, 0.5);
    s.q3 = interpolate(samples, 0.75);
    s.max = samples.back();
    return s;
}

bool parseCount(const char *text, int minimum, int &value) {
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < minimum || parsed > 100000)
        return false;
    value = int(parsed);
    return true;
}

} // namespace krv::bench
