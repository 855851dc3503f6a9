#include "TelegramSetup.h"

#include "Graphemes.h"
#include "LogScrubber.h"
#include "Multipart.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <unicode/translit.h>
#include <unicode/unistr.h>

namespace vardel::TelegramSetup {

namespace {

    constexpr double kReadTimeout = 20;
    constexpr double kWriteTimeout = 60;

    bool isDigit(char c) { return c >= '0' && c <= '9'; }
    bool isWordCharacter(char c)
    {
        return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    }
    bool isTokenCharacter(char c) { return isWordCharacter(c) || c == '-'; }

    struct Upload {
        std::string fieldName;
        std::string contentType;
        const std::string& bytes;
    };

    // One Bot API call with the shared answer rules; returns the answer's "result".
    nlohmann::json call(const std::string& key, const std::string& method,
        const std::map<std::string, std::string>& fields, const std::optional<Upload>& upload, double timeout,
        const Connection& api)
    {
        // The token goes into the path: anything outside its alphabet could change the address.
        if (key.empty()
            || key.find_first_not_of("0123456789:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_-")
                != std::string::npos)
            throw Failure::notAKey();

        HTTPPosting::Response response;
        try {
            HTTPPosting::Request request = TelegramClient({}, {}, nullptr, api.endpoint)
                                               .request(key, method, fields, std::nullopt, timeout);
            if (upload) {
                const std::string boundary = multipart::newBoundary();
                request.headers = { { "Content-Type", "multipart/form-data; boundary=" + boundary } };
                request.body = multipart::body(boundary, fields,
                    { upload->fieldName, "BotPhoto.jpg", upload->contentType }, upload->bytes);
            }
            response = api.http->post(request);
        } catch (const std::exception& error) {
            throw Failure::offline(LogScrubber::scrub(error.what(), key));
        }

        const auto answer = nlohmann::json::parse(response.body, nullptr, false);
        const bool filled = answer.is_object() && !answer.empty();
        if (response.status == 200 && filled) {
            auto ok = answer.find("ok");
            auto result = answer.find("result");
            if (ok != answer.end() && *ok == true && result != answer.end())
                return *result;
        }
        long long status = response.status;
        if (filled) {
            if (auto code = answer.find("error_code"); code != answer.end() && code->is_number_integer())
                status = code->get<long long>();
        }
        if (status == 401 || status == 404)
            throw Failure::rejected();
        throw Failure::offline(LogScrubber::scrub("Telegram " + std::to_string(status), key));
    }

    std::string stringMember(const nlohmann::json& object, const char* name)
    {
        if (!object.is_object())
            return {};
        auto it = object.find(name);
        return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
    }

    // Case- and accent-free "a-z0-9" only, at most 12 characters: "José" gives "jose".
    std::string cleaned(std::string_view text)
    {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> fold(icu::Transliterator::createInstance(
            "NFD; [:Nonspacing Mark:] Remove; Lower; NFC", UTRANS_FORWARD, status));
        icu::UnicodeString unicode
            = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
        if (U_SUCCESS(status) && fold)
            fold->transliterate(unicode);
        std::string folded;
        unicode.toUTF8String(folded);
        std::string result;
        for (char c : folded) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if ((c >= 'a' && c <= 'z') || isDigit(c))
                result += c;
            if (result.size() == 12)
                break;
        }
        return result;
    }

} // namespace

std::string Candidate::label() const { return username ? name + " (@" + *username + ")" : name; }

std::optional<std::string> extractKey(std::string_view text)
{
    constexpr std::size_t kDigits = 5;
    constexpr std::size_t kSecret = 30;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!isDigit(text[at])) {
            ++at;
            continue;
        }
        std::size_t start = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        if (at - start < kDigits || at == text.size() || text[at] != ':')
            continue;
        std::size_t end = at + 1;
        while (end < text.size() && isTokenCharacter(text[end]))
            ++end;
        if (end - at - 1 >= kSecret)
            return std::string(text.substr(start, end - start));
    }
    return std::nullopt;
}

Bot getMe(const std::string& key, const Connection& api)
{
    const nlohmann::json me = call(key, "getMe", {}, std::nullopt, kReadTimeout, api);
    if (!me.is_object() || !me.contains("username") || !me["username"].is_string())
        throw Failure::rejected();
    Bot bot { me["username"].get<std::string>(), stringMember(me, "first_name") };
    if (!me.contains("first_name") || !me["first_name"].is_string())
        bot.name = bot.username;
    return bot;
}

BrandResult brandIfFresh(const std::string& key, const Profile& profile,
    const std::optional<std::string>& photoJPEG, const Connection& api)
{
    const std::string description
        = stringMember(call(key, "getMyDescription", {}, std::nullopt, kReadTimeout, api), "description");
    const std::string shortDescription = stringMember(
        call(key, "getMyShortDescription", {}, std::nullopt, kReadTimeout, api), "short_description");
    if (!description.empty() || !shortDescription.empty())
        return { true, {} };

    BrandResult result;
    auto attempt = [&](const std::string& method, const std::map<std::string, std::string>& fields,
                       const std::optional<Upload>& upload = std::nullopt) {
        try {
            call(key, method, fields, upload, kWriteTimeout, api);
        } catch (const Failure&) {
            result.failed.push_back(method);
        }
    };
    attempt("setMyName", { { "name", graphemePrefix(profile.name, 64) } });
    attempt("setMyDescription", { { "description", graphemePrefix(profile.description, 512) } });
    attempt(
        "setMyShortDescription", { { "short_description", graphemePrefix(profile.shortDescription, 120) } });
    if (photoJPEG)
        attempt("setMyProfilePhoto", { { "photo", R"({"type":"static","photo":"attach://pic"})" } },
            Upload { "pic", "image/jpeg", *photoJPEG });
    return result;
}

std::string suggestedUsername(std::string_view fullName, std::string_view brand)
{
    std::string first = cleaned(brand);
    if (first.empty())
        first = "my";
    std::string word;
    for (std::size_t at = 0; at < fullName.size() && word.empty();) {
        std::size_t end = fullName.find(' ', at);
        if (end == std::string_view::npos)
            end = fullName.size();
        word = std::string(fullName.substr(at, end - at));
        at = end + 1;
    }
    std::string second = cleaned(word);
    if (second.empty())
        second = "alerts";
    return first + "_" + second + "_bot";
}

std::string withNumber(const std::string& username, int number)
{
    const std::string ending = "_bot";
    if (username.ends_with(ending))
        return username.substr(0, username.size() - ending.size()) + "_" + std::to_string(number) + ending;
    return username + std::to_string(number);
}

std::string makeCode()
{
    std::random_device random;
    std::uniform_int_distribution<int> uniform(0, 999999);
    char code[8];
    std::snprintf(code, sizeof code, "%06d", uniform(random));
    return code;
}

std::optional<std::string> startLink(std::string_view username, std::string_view code)
{
    if (username.empty() || !std::all_of(username.begin(), username.end(), isWordCharacter)
        || !std::all_of(code.begin(), code.end(), isDigit))
        return std::nullopt;
    return "https://t.me/" + std::string(username) + "?start=" + std::string(code);
}

Batch updates(const std::string& key, std::optional<std::int64_t> offset, int timeout, const Connection& api)
{
    std::map<std::string, std::string> fields { { "timeout", std::to_string(timeout) },
        { "allowed_updates", R"(["message"])" } };
    if (offset)
        fields["offset"] = std::to_string(*offset);
    const nlohmann::json answer = call(key, "getUpdates", fields, std::nullopt, timeout + 10.0, api);

    Batch batch { {}, offset };
    if (!answer.is_array())
        return batch;
    std::optional<std::int64_t> largest;
    for (const auto& update : answer) {
        if (!update.is_object())
            continue;
        if (auto id = update.find("update_id"); id != update.end() && id->is_number_integer())
            largest = std::max(largest.value_or(id->get<std::int64_t>()), id->get<std::int64_t>());
        batch.updates.push_back(update);
    }
    // An id at the very top of the range cannot be confirmed (the next offset would overflow); Telegram's
    // ids are far below it, so such an answer is simply read again at the next poll.
    if (largest && *largest < std::numeric_limits<std::int64_t>::max())
        batch.nextOffset = *largest + 1;
    return batch;
}

std::optional<Candidate> match(const std::vector<nlohmann::json>& updates, std::string_view code)
{
    // "/start <code>" needs no rule of its own: its digits are the code.
    for (auto update = updates.rbegin(); update != updates.rend(); ++update) {
        const auto message = update->find("message");
        if (message == update->end() || !message->is_object())
            continue;
        const auto chat = message->find("chat");
        if (chat == message->end() || !chat->is_object() || stringMember(*chat, "type") != "private")
            continue;
        const auto id = chat->find("id");
        const auto text = message->find("text");
        if (id == chat->end() || !id->is_number_integer() || text == message->end() || !text->is_string())
            continue;
        std::string digits;
        for (char c : text->get_ref<const std::string&>())
            if (isDigit(c))
                digits += c;
        if (digits != code)
            continue;

        const auto from = message->find("from");
        const nlohmann::json& person = from != message->end() && from->is_object() ? *from : *chat;
        std::string name = stringMember(person, "first_name");
        const std::string last = stringMember(person, "last_name");
        if (!last.empty())
            name += name.empty() ? last : " " + last;
        Candidate candidate { id->get<std::int64_t>(), name.empty() ? "Telegram" : name, std::nullopt };
        if (person.contains("username") && person["username"].is_string())
            candidate.username = person["username"].get<std::string>();
        return candidate;
    }
    return std::nullopt;
}

} // namespace vardel::TelegramSetup
