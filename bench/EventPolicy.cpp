#include "EventPolicy.h"

#include <benchmark/benchmark.h>

using namespace vardel;

// One evaluation per analysed frame: a realistic mix of quiet frames and short runs of change.
static void BM_EventPolicyEvaluate(benchmark::State& state)
{
    EventPolicy policy(6, 3, 60, 4);
    double now = 1000;
    int frame = 0;
    for (auto _ : state) {
        double level = (frame % 50) < 4 ? 0.2 : 0.01;
        benchmark::DoNotOptimize(policy.evaluate(level, now, 990.0));
        now += 0.1;
        ++frame;
    }
}
BENCHMARK(BM_EventPolicyEvaluate);

BENCHMARK_MAIN();
