#include "bench/common/Timing.h"

#include <algorithm>
#include <cstdlib>

namespace bench {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

PairedRuns timeInTurn(int runs, const std::function<double()>& bare, const std::function<double()>& program,
                      const std::function<void(int run, double bare, double program)>& afterEach)
{
    PairedRuns times;
    for (int run = 0; run < runs; ++run) {
        times.bare.push_back(bare());
        times.program.push_back(program());
        if (afterEach)
            afterEach(run, times.bare.back(), times.program.back());
    }
    return times;
}

long long numberArgument(int argc, char** argv, int index, long long fallback)
{
    return argc > index ? std::atoll(argv[index]) : fallback;
}

} // namespace bench
