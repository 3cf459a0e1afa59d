#pragma once

// Finding the moving bar of the simulated scenes on a ring of columns or
// rows; shared by the driver's and the window's fusion tests. No test
// framework here, so both kinds of test program can include it.

#include <algorithm>
#include <cstdlib>
#include <vector>

// Centre of the brightest band of `width` entries on a ring.
inline int bestWindow(const std::vector<int>& histogram, int width) {
    const int n = int(histogram.size());
    int sum = 0;
    for (int i = 0; i < width; ++i)
        sum += histogram[size_t(i)];
    int best = sum, bestStart = 0;
    for (int s = 1; s < n; ++s) {
        sum += histogram[size_t((s + width - 1) % n)] - histogram[size_t(s - 1)];
        if (sum > best) best = sum, bestStart = s;
    }
    return (bestStart + width / 2) % n;
}

inline int ringDistance(int a, int b, int n) {
    const int d = std::abs(a - b) % n;
    return std::min(d, n - d);
}
