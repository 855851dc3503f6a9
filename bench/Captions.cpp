#include "Captions.h"
#include "L.h"

#include <benchmark/benchmark.h>

using namespace vardel;

namespace {

constexpr double kDate = 1740837909.0;

void lookupWithArguments(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(L::t(K::tgStarted, AppLanguage::ptBR, { "Brisko", "14:05" }));
}
BENCHMARK(lookupWithArguments);

void lookupCurrentLanguage(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(L::t(K::stOff));
}
BENCHMARK(lookupCurrentLanguage);

// The per-frame clip stamp: the hottest time text (every recorded frame).
void fullStampHostZone(benchmark::State& state)
{
    double date = kDate;
    for (auto _ : state)
        benchmark::DoNotOptimize(Captions::full(date += 0.1, AppLanguage::en));
}
BENCHMARK(fullStampHostZone);

void fullStampNamedZone(benchmark::State& state)
{
    double date = kDate;
    for (auto _ : state)
        benchmark::DoNotOptimize(Captions::full(date += 0.1, AppLanguage::en, "America/Sao_Paulo"));
}
BENCHMARK(fullStampNamedZone);

void hourMinuteAllLanguages(benchmark::State& state)
{
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(Captions::hourMinute(kDate, AppLanguage::allCases()[i++ % 3]));
}
BENCHMARK(hourMinuteAllLanguages);

void logStamp(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Captions::logStamp(kDate));
}
BENCHMARK(logStamp);

void diagnosticsLine(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Captions::diagnostics(EventKind::person, kDate, 0.07, false));
}
BENCHMARK(diagnosticsLine);

} // namespace

BENCHMARK_MAIN();
