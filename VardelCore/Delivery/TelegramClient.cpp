#include "TelegramClient.h"

#include "Error.h"
#include "LogScrubber.h"
#include "Multipart.h"
#include "SendError.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

namespace fs = std::filesystem;

namespace vardel {

namespace {

    constexpr double kTextTimeout = 30;
    constexpr double kPhotoTimeout = 90;
    constexpr double kVideoTimeout = 300;
    constexpr double kTestTimeout = 20;
    // The longest wait an answer may ask for. A larger "retry_after" would hold every alert back for that
    // long, and past about 292 years the wait no longer fits the queue's clock.
    constexpr double kMaxRetryAfter = 3600;

    std::string readMedia(const fs::path& path)
    {
        std::error_code error;
        if (!fs::is_regular_file(path, error))
            throw std::system_error(
                error ? error : std::make_error_code(std::errc::no_such_file_or_directory),
                path.filename().string());
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::system_error(std::make_error_code(std::errc::io_error), path.filename().string());
        // Read in large blocks: a clip is megabytes and a per-character copy would cost tens of ms.
        std::string bytes;
        const auto expected = fs::file_size(path, error);
        std::size_t size = error ? 0 : static_cast<std::size_t>(expected);
        bytes.resize(size + 1);
        std::size_t filled = 0;
        while (in) {
            if (filled == bytes.size())
                bytes.resize(bytes.size() * 2);
            in.read(bytes.data() + filled, static_cast<std::streamsize>(bytes.size() - filled));
            filled += static_cast<std::size_t>(in.gcount());
        }
        if (in.bad())
            throw std::system_error(std::make_error_code(std::errc::io_error), path.filename().string());
        bytes.resize(filled);
        return bytes;
    }

    bool containsNoCase(const std::string& text, std::string_view word)
    {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return std::search(text.begin(), text.end(), word.begin(), word.end(), [&](char a, char b) {
            return lower(a) == lower(b);
        }) != text.end();
    }

    bool isLoopbackHost(const std::string& host)
    {
        if (host == "localhost" || host == "[::1]")
            return true;
        // 127.0.0.0/8 written as a dotted quad.
        if (!host.starts_with("127."))
            return false;
        int dots = 0;
        for (char c : host) {
            if (c == '.')
                ++dots;
            else if (c < '0' || c > '9')
                return false;
        }
        return dots == 3;
    }

} // namespace

TelegramClient::TelegramClient(TokenSource token, ChatSource chatID, std::shared_ptr<HTTPPosting> http,
    std::string endpoint, ClipInfoSource clipInfo)
    : m_token(std::move(token))
    , m_chatID(std::move(chatID))
    , m_http(std::move(http))
    , m_endpoint(std::move(endpoint))
    , m_clipInfo(std::move(clipInfo))
{
    if (!isAllowedEndpoint(m_endpoint))
        throw Error(2, "endereço da Bot API não permitido: " + m_endpoint);
    while (m_endpoint.ends_with('/'))
        m_endpoint.pop_back();
}

bool TelegramClient::isAllowedEndpoint(const std::string& endpoint)
{
    std::string rest;
    bool secure = false;
    if (endpoint.starts_with("https://")) {
        rest = endpoint.substr(8);
        secure = true;
    } else if (endpoint.starts_with("http://")) {
        rest = endpoint.substr(7);
    } else {
        return false;
    }
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    // No user information: "http://127.0.0.1@example.com" must not pass for loopback.
    if (authority.empty() || authority.find('@') != std::string::npos)
        return false;
    if (rest.find_first_of("?#") != std::string::npos)
        return false;
    if (secure)
        return true;
    std::string host = authority;
    if (host.starts_with("[")) {
        host = host.substr(0, host.find(']') + 1);
    } else if (auto colon = host.find(':'); colon != std::string::npos) {
        host = host.substr(0, colon);
    }
    return isLoopbackHost(host);
}

std::string TelegramClient::endpointFrom(const std::optional<std::string>& userDefault)
{
    if (userDefault && isAllowedEndpoint(*userDefault))
        return *userDefault;
    return kDefaultEndpoint;
}

void TelegramClient::send(const QueueJob& job)
{
    switch (job.kind) {
    case QueueJob::Kind::text:
        call("sendMessage", { { "text", job.text } }, std::nullopt, kTextTimeout);
        return;
    case QueueJob::Kind::photo:
        if (!job.file)
            throw SendError::permanent("foto sem arquivo");
        call("sendPhoto", { { "caption", job.text } }, File { "photo", *job.file, "image/jpeg" },
            kPhotoTimeout);
        return;
    case QueueJob::Kind::video: {
        if (!job.file)
            throw SendError::permanent("clipe sem arquivo");
        std::map<std::string, std::string> fields { { "caption", job.text },
            { "supports_streaming", "true" } };
        if (m_clipInfo) {
            if (auto info = m_clipInfo(*job.file)) {
                fields["duration"] = std::to_string(std::lround(info->seconds));
                fields["width"] = std::to_string(info->width);
                fields["height"] = std::to_string(info->height);
            }
        }
        call("sendVideo", std::move(fields), File { "video", *job.file, "video/mp4" }, kVideoTimeout);
        return;
    }
    }
}

void TelegramClient::sendMessage(const std::string& text)
{
    call("sendMessage", { { "text", text } }, std::nullopt, kTestTimeout);
}

HTTPPosting::Response TelegramClient::call(const std::string& method,
    std::map<std::string, std::string> fields, const std::optional<File>& file, double timeout)
{
    const std::optional<std::int64_t> chat = m_chatID ? m_chatID() : std::nullopt;
    if (!chat)
        throw SendError::transient("chat do Telegram não confirmado");

    std::string token;
    try {
        token = m_token ? m_token() : std::string();
    } catch (...) {
        token.clear();
    }
    if (token.empty())
        throw SendError::transient("token do Telegram indisponível");

    fields["chat_id"] = std::to_string(*chat);

    HTTPPosting::Request built;
    try {
        built = request(token, method, fields, file, timeout);
    } catch (const std::system_error&) {
        const std::string name
            = file && !file->path.filename().empty() ? file->path.filename().string() : "-";
        throw SendError::permanent("arquivo ilegível: " + name);
    }

    HTTPPosting::Response response;
    try {
        response = m_http->post(built);
    } catch (const std::exception& error) {
        throw SendError::transient(LogScrubber::scrub(error.what(), token));
    }

    try {
        check(response.status, response.body);
    } catch (const SendError& error) {
        throw error.withMessage(LogScrubber::scrub(error.message(), token));
    }
    return response;
}

HTTPPosting::Request TelegramClient::request(const std::string& token, const std::string& method,
    const std::map<std::string, std::string>& fields, const std::optional<File>& file, double timeout) const
{
    HTTPPosting::Request request;
    request.url = m_endpoint + "/bot" + token + "/" + method;
    request.method = "POST";
    request.timeout = timeout;
    if (!file) {
        request.headers = { { "Content-Type", "application/x-www-form-urlencoded" } };
        request.body = multipart::formEncode(fields);
        return request;
    }
    const std::string bytes = readMedia(file->path);
    const std::string boundary = multipart::newBoundary();
    request.headers = { { "Content-Type", "multipart/form-data; boundary=" + boundary } };
    request.body = multipart::body(
        boundary, fields, { file->fieldName, file->path.filename().string(), file->contentType }, bytes);
    return request;
}

void TelegramClient::check(int status, const std::string& body)
{
    const auto answer = nlohmann::json::parse(body, nullptr, false);
    const bool isObject = answer.is_object();
    if (status == 200 && isObject) {
        auto ok = answer.find("ok");
        if (ok != answer.end() && ok->is_boolean() && ok->get<bool>())
            return;
    }

    long long code = status;
    std::string description = "HTTP " + std::to_string(status);
    if (isObject) {
        if (auto it = answer.find("error_code"); it != answer.end() && it->is_number_integer())
            code = it->is_number_unsigned() ? static_cast<long long>(it->get<unsigned long long>())
                                            : it->get<long long>();
        if (auto it = answer.find("description"); it != answer.end() && it->is_string())
            description = it->get<std::string>();
    }
    const std::string message = "Telegram " + std::to_string(code) + ": " + description;

    if (code == 429) {
        double seconds = 5;
        if (isObject) {
            auto parameters = answer.find("parameters");
            if (parameters != answer.end() && parameters->is_object()) {
                auto retry = parameters->find("retry_after");
                if (retry != parameters->end() && retry->is_number() && std::isfinite(retry->get<double>()))
                    seconds = std::min(retry->get<double>(), kMaxRetryAfter);
            }
        }
        throw SendError::retryAfter(seconds, message);
    }
    // The chat is gone for this bot (never started, deleted, or the user blocked the bot): no item to it
    // can succeed until the user pairs again, but the alerts are kept for that moment.
    if (code == 403 || (code == 400 && containsNoCase(description, "chat not found")))
        throw SendError::chatUnreachable(message);
    if (code == 400 || code == 413)
        throw SendError::permanent(message);
    throw SendError::transient(message);
}

} // namespace vardel
