// A Bot API answer as the server sent it: two bytes of HTTP status (big-endian, taken modulo 1000), then
// the body. The check accepts it or throws a SendError; sent through the client and the alert queue, the
// answer never brings the bot token into a message, and never holds the alerts back for days.
#include "AlertQueue.h"
#include "FuzzSupport.h"
#include "HTTPPosting.h"
#include "SendError.h"
#include "TelegramClient.h"

#include <cmath>
#include <memory>

namespace {

constexpr std::string_view kToken = "123456:TEST-abcdefghijklmnopqrstuvwxyz012345";

struct AnswerPoster final : vardel::HTTPPosting {
    Response answer;
    Response post(const Request&) override { return answer; }
};

bool carriesToken(std::string_view message) { return message.find(kToken) != std::string_view::npos; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    if (size < 2)
        return 0;
    const int status = ((data[0] << 8) | data[1]) % 1000;
    const std::string body(fuzz::text(data + 2, size - 2));

    try {
        TelegramClient::check(status, body);
    } catch (const SendError&) {
    }

    static const std::filesystem::path folder = [] {
        auto path = fuzz::scratchFolder() / "answers";
        std::filesystem::create_directories(path);
        return path;
    }();
    fuzz::writeFile(folder / "1700000000000000000-text.json", R"({"kind": "text", "text": "Pessoa"})");
    auto poster = std::make_shared<AnswerPoster>();
    poster->answer = { status, body };
    auto client = std::make_shared<TelegramClient>(
        [] { return std::string(kToken); }, [] { return std::optional<std::int64_t>(42); }, poster);
    AlertQueue queue(std::make_shared<Outbox>(folder), client);
    const AlertQueue::Step step = queue.step();

    fuzz::require(!carriesToken(step.reason) && !carriesToken(queue.lastError().value_or("")),
        "the bot token reaches a message");
    if (step.kind == AlertQueue::Step::Kind::wait) {
        fuzz::require(std::isfinite(step.seconds) && step.seconds >= 1, "a wait is not a number of seconds");
        // The runner waits that long before the next attempt, for every alert behind this one.
        fuzz::require(step.seconds <= 24 * 3600, "an answer holds the alerts back for more than a day");
    }

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    return 0;
}
