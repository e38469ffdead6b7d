// The clock and the statistics the benchmark programs share.
//   Now          - the performance counter now
//   Milliseconds - performance-counter ticks as milliseconds
//   Percentile   - nearest rank: the smallest value with at least `percent`
//                  (0-100) of the values at or below it; 0 is the least
#pragma once

#include <windows.h>
#include <vector>

LONGLONG Now();
double Milliseconds(LONGLONG ticks);
double Percentile(std::vector<double> values, double percent);
