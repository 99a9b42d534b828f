#pragma once

#include <algorithm>

// The median of a run's timings: the middle value, or the mean of the two
// middle values of an even count; 0 for no values.
template <typename List> double median(List values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
