// Items per second that Outbox::enqueue writes durably (fsync of the item and of the folder each time).
#include "Outbox.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

using namespace vardel;

namespace {

void BM_OutboxEnqueue(benchmark::State& state)
{
    const auto folder
        = std::filesystem::temp_directory_path() / ("vardel-bench-outbox-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Outbox outbox(folder);
    const std::string caption = "Pessoa detectada · 14:05";
    const std::string path = "/home/user/.local/share/app/events/2026-12-06/2026-12-06_14-05-00.jpg";
    for (auto _ : state)
        benchmark::DoNotOptimize(outbox.enqueue("photo", caption, path));
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_OutboxEnqueue)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
