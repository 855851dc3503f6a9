// A Bot API answer during the bot check and the chat pairing, as the server sent it: two bytes of HTTP
// status (big-endian, modulo 1000), then the body, answered to getMe and to getUpdates. Each call either
// fails with TelegramSetup::Failure or reads the answer; a start link made from the bot's name stays on
// t.me, the next offset confirms every update read, and a matched chat always has a name.
#include "FuzzSupport.h"
#include "HTTPPosting.h"
#include "TelegramSetup.h"

#include <memory>

namespace {

struct AnswerPoster final : vardel::HTTPPosting {
    Response answer;
    Response post(const Request&) override { return answer; }
};

constexpr const char* kKey = "123456:TEST-abcdefghijklmnopqrstuvwxyz012345";
constexpr std::string_view kCode = "123456";

bool staysOnTelegram(const std::string& link)
{
    constexpr std::string_view prefix = "https://t.me/";
    if (!link.starts_with(prefix))
        return false;
    const std::string_view rest = std::string_view(link).substr(prefix.size());
    return rest.find_first_of("/#@%:\\ ") == std::string_view::npos && rest.find('?') == rest.rfind('?');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    if (size < 2)
        return 0;
    auto poster = std::make_shared<AnswerPoster>();
    poster->answer = { ((data[0] << 8) | data[1]) % 1000, std::string(fuzz::text(data + 2, size - 2)) };
    const TelegramSetup::Connection api { poster, "https://api.telegram.org" };

    try {
        const TelegramSetup::Bot bot = TelegramSetup::getMe(kKey, api);
        if (const auto link = TelegramSetup::startLink(bot.username, kCode))
            fuzz::require(staysOnTelegram(*link), "a bot name moves the start link off t.me");
    } catch (const TelegramSetup::Failure&) {
    }

    const std::optional<std::int64_t> offset = 1000;
    TelegramSetup::Batch batch;
    try {
        batch = TelegramSetup::updates(kKey, offset, 0, api);
    } catch (const TelegramSetup::Failure&) {
        return 0;
    }
    if (batch.nextOffset != offset) {
        for (const auto& update : batch.updates) {
            const auto id = update.find("update_id");
            if (id != update.end() && id->is_number_integer() && !id->is_number_unsigned())
                fuzz::require(
                    id->get<std::int64_t>() < *batch.nextOffset, "the next offset fetches an update again");
        }
    }
    if (const auto candidate = TelegramSetup::match(batch.updates, kCode))
        fuzz::require(!candidate->name.empty() && !candidate->label().empty(), "a chat without a name");
    return 0;
}
