#include "BenchTiming.h"

#include <algorithm>

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Milliseconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (double)ticks / (double)frequency.QuadPart;
}

double Percentile(std::vector<double> values, double percent)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t rank = (size_t)((percent / 100.0) * values.size() + 0.999999);
    rank = std::max<size_t>(1, std::min(rank, values.size()));
    return values[rank - 1];
}
