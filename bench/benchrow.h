// The one line per figure that bench/run.sh gathers into its table. The ratio is
// ours / floor; the target reads "<=2" (at most) or ">=0.5" (at least), or "none"
// where the figure is only reported.
#pragma once

#include <cstdio>

inline void benchRow(const char* name, double ours, double floor, const char* unit, const char* target)
{
    std::printf("BENCHROW\t%s\t%.6g\t%.6g\t%s\t%s\n", name, ours, floor, unit, target);
    std::fflush(stdout);
}
