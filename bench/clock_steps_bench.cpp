// The platform clock's 5 ms steps against the steady clock: 1,000 steps, each a sleep until 5 ms
// after the last one's end, as the worker takes them (min, median, 99th percentile, max, and how
// many ended before their deadline), then five budgets of 1000 ms spent in such steps (how long
// each lasted). Beside them the same with the C++ library's sleep_until alone, as the clock slept
// before. Goals: every step at least 5.0 ms, the median at most 5.5 ms; a budget 1000-1020 ms.
// A plain program on every system; on Windows under Wine:
//   scripts/wine-run build-windows/bench/clock_steps_bench.exe
//   build/bench/clock_steps_bench

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "device/link/clock.hpp"

using namespace halvard;
using Steady = std::chrono::steady_clock;

namespace {

constexpr auto kStep = std::chrono::milliseconds(5);
constexpr auto kBudget = std::chrono::milliseconds(1000);

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void steps(const char* what, const std::function<void(Steady::time_point)>& sleepUntil) {
    std::vector<double> lengths;
    int early = 0;
    for (int i = 0; i < 1000; ++i) {
        const Steady::time_point start = Steady::now();
        sleepUntil(start + kStep);
        const Steady::time_point end = Steady::now();
        if (end < start + kStep) ++early;
        lengths.push_back(ms(end - start));
    }
    std::sort(lengths.begin(), lengths.end());
    std::printf("  %-32s min %5.2f  median %5.2f  p99 %5.2f  max %6.2f ms; %4d of 1000 ended early\n", what,
                lengths.front(), lengths[500], lengths[989], lengths.back(), early);
}

void budgets(const char* what, const std::function<void(Steady::time_point)>& sleepUntil, bool countsSteps) {
    std::printf("  %-32s", what);
    for (int i = 0; i < 5; ++i) {
        const Steady::time_point start = Steady::now();
        if (countsSteps) {
            // As the budgets were spent before: 200 steps counted, whatever each took.
            for (int n = 0; n < kBudget / kStep; ++n) sleepUntil(Steady::now() + kStep);
        } else {
            const Steady::time_point deadline = start + kBudget;
            while (Steady::now() < deadline) sleepUntil(std::min(Steady::now() + kStep, deadline));
        }
        std::printf(" %7.1f", ms(Steady::now() - start));
    }
    std::printf(" ms\n");
}

}  // namespace

int main() {
    Clock& clock = steadyClock();
    const auto platform = [&](Steady::time_point deadline) { clock.sleepUntil(deadline); };
    const auto library = [](Steady::time_point deadline) { std::this_thread::sleep_until(deadline); };
    std::printf("1,000 steps of 5 ms (goal: each >= 5.0 ms, median <= 5.5 ms)\n");
    steps("the platform clock (now):", platform);
    steps("sleep_until alone (before):", library);
    std::printf("budgets of 1000 ms in 5 ms steps (goal: 1000-1020 ms)\n");
    budgets("the platform clock (now):", platform, false);
    budgets("200 sleep_until steps (before):", library, true);
    return 0;
}
