// Figures of the benchmark suite: each one is measured pair by pair (A B A B ...) in one run, and printed
// as the median, minimum and maximum of the pairs' ratios B/A, so that a noisy machine moves both sides
// of a pair alike and misleads less than two separate means would.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace morix::bench {

struct Spread {
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Spread spreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) {
        return spread;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    spread.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    spread.min = values.front();
    spread.max = values.back();
    return spread;
}

// The times of both sides of every pair, in milliseconds.
struct Pairs {
    std::vector<double> a;
    std::vector<double> b;

    void add(double aMs, double bMs) {
        a.push_back(aMs);
        b.push_back(bMs);
    }
    std::vector<double> ratios() const {
        std::vector<double> r;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if (a[i] > 0) {
                r.push_back(b[i] / a[i]);
            }
        }
        return r;
    }
};

inline void printHeader() {
    std::printf("%-52s %5s %9s %9s  %s\n", "figure (B vs A)", "pairs", "A ms", "B ms",
                "B/A median [min, max]");
}

// One line: the sides' median times and the spread of the ratios.
inline void printPairs(const std::string& name, const Pairs& pairs) {
    const Spread ratio = spreadOf(pairs.ratios());
    std::printf("%-52s %5d %9.1f %9.1f  %.2f [%.2f, %.2f]\n", name.c_str(), static_cast<int>(pairs.a.size()),
                spreadOf(pairs.a).median, spreadOf(pairs.b).median, ratio.median, ratio.min, ratio.max);
    std::fflush(stdout);
}

// A figure that has no pair: the median with minimum and maximum of one kind of measurement.
inline void printSpread(const std::string& name, const std::vector<double>& values, const char* unit) {
    const Spread s = spreadOf(values);
    std::printf("%-52s %5d %9.1f %s [%.1f, %.1f]\n", name.c_str(), static_cast<int>(values.size()), s.median,
                unit, s.min, s.max);
    std::fflush(stdout);
}

inline void printNote(const std::string& text) {
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace morix::bench
