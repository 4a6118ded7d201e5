#pragma once

#include <chrono>
#include <functional>
#include <vector>

// What the benchmarks time with: a steady clock, the median of the runs, and one piece of
// work done two ways and timed in turn.
namespace bench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);
double millisecondsSince(Clock::time_point start);

double median(std::vector<double> values);

// The times of the two ways, run after run: the least the engine must do (bare) and the
// programs' own way.
struct PairedRuns {
    std::vector<double> bare;
    std::vector<double> program;

    double bareMedian() const { return median(bare); }
    double programMedian() const { return median(program); }
    double ratio() const { return programMedian() / bareMedian(); }
};

// Runs bare, then program, RUNS times, so that both meet the same machine and the same
// caches; afterEach sees each run's pair (run counts from 0). Each way gives the time it
// measured itself, so that what it prepares (a fresh copy of the file) stays out of it.
PairedRuns timeInTurn(int runs, const std::function<double()>& bare, const std::function<double()>& program,
                      const std::function<void(int run, double bare, double program)>& afterEach = {});

// The number given as argv[index], or fallback where there is none.
long long numberArgument(int argc, char** argv, int index, long long fallback);

} // namespace bench
