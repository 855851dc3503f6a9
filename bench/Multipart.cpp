// Cost of turning a 3 MB clip into its sendVideo request body: the multipart layout alone, and the whole
// request as the Telegram client builds it (file read included).
#include "Multipart.h"
#include "HTTPPosting.h"
#include "TelegramClient.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vardel;

namespace {

constexpr std::size_t kClipBytes = 3 << 20;

std::string clipBytes()
{
    std::string bytes(kClipBytes, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 24);
    return bytes;
}

const std::map<std::string, std::string> kFields { { "caption", "Vídeo · 14:05" }, { "chat_id", "123456789" },
    { "duration", "12" }, { "height", "720" }, { "supports_streaming", "true" }, { "width", "1280" } };

void BM_MultipartBody(benchmark::State& state)
{
    const std::string bytes = clipBytes();
    const std::string boundary = multipart::newBoundary();
    for (auto _ : state) {
        auto body
            = multipart::body(boundary, kFields, { "video", "2026-12-06_14-05-00.mp4", "video/mp4" }, bytes);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
}
BENCHMARK(BM_MultipartBody)->Unit(benchmark::kMillisecond);

void BM_VideoRequestFromFile(benchmark::State& state)
{
    const auto file
        = std::filesystem::temp_directory_path() / ("vardel-bench-" + std::to_string(::getpid()) + ".mp4");
    {
        std::ofstream out(file, std::ios::binary);
        out << clipBytes();
    }
    TelegramClient client(
        [] { return std::string("1:x"); }, [] { return std::optional<std::int64_t>(1); }, nullptr);
    for (auto _ : state) {
        auto request = client.request(
            "123456:token", "sendVideo", kFields, TelegramClient::File { "video", file, "video/mp4" }, 300);
        benchmark::DoNotOptimize(request.body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
    std::filesystem::remove(file);
}
BENCHMARK(BM_VideoRequestFromFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
