// Cost of one alert-queue step with 20,000 items waiting in the outbox: the step must stay flat as the
// backlog grows, as the listing is served from the outbox's index instead of the folder.
#include "AlertQueue.h"
#include "SendError.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

class Backlog {
public:
    explicit Backlog(int items)
        : m_folder(fs::temp_directory_path() / ("vardel-bench-queue-" + std::to_string(::getpid())))
    {
        fs::create_directories(m_folder);
        for (int i = 0; i < items; ++i)
            std::ofstream(m_folder / (std::to_string(1'700'000'000'000'000'000 + i) + "-text.json"))
                << R"({"created":1700000000.0,"kind":"text","path":null,"text":"Pessoa detectada · 14:05"})";
    }
    ~Backlog() { fs::remove_all(m_folder); }
    const fs::path& folder() const { return m_folder; }

private:
    fs::path m_folder;
};

// The service keeps asking to slow down, so the oldest item stays and every step does the same work.
class RateLimited final : public AlertTransport {
public:
    void send(const QueueJob&) override { throw SendError::retryAfter(1, "Telegram 429: calma"); }
};

// Accepts everything: every step sends and removes the oldest item.
class Accepting final : public AlertTransport {
public:
    void send(const QueueJob&) override { }
};

template <typename Transport> void BM_QueueStep(benchmark::State& state)
{
    Backlog backlog(static_cast<int>(state.range(0)));
    AlertQueue queue(std::make_shared<Outbox>(backlog.folder()), std::make_shared<Transport>());
    queue.step(); // builds the index
    for (auto _ : state)
        benchmark::DoNotOptimize(queue.step());
}
BENCHMARK_TEMPLATE(BM_QueueStep, RateLimited)->Arg(200)->Arg(20'000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_QueueStep, Accepting)->Arg(20'000)->Iterations(5'000)->Unit(benchmark::kMicrosecond);

// What every step used to pay: listing and sorting the whole folder.
void BM_FullListing(benchmark::State& state)
{
    Backlog backlog(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<fs::path> items;
        for (const auto& entry : fs::directory_iterator(backlog.folder()))
            if (entry.path().extension() == ".json")
                items.push_back(entry.path());
        std::sort(items.begin(), items.end());
        benchmark::DoNotOptimize(items.data());
    }
}
BENCHMARK(BM_FullListing)->Arg(20'000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
