#include "TelegramClient.h"

#include "Error.h"
#include "OutboxFolder.h"
#include "ScriptedPoster.h"
#include "SendError.h"
#include "Thrown.h"

#include <gtest/gtest.h>
#include <regex>

namespace fs = std::filesystem;
using namespace vardel;
using Kind = QueueJob::Kind;

namespace {

constexpr const char* kToken = "987654321:AAHk-secret_TOKEN-abcdefghijklmnopqrstu";

class TelegramClientTest : public ::testing::Test {
protected:
    test::OutboxFolder folder;
    std::shared_ptr<test::ScriptedPoster> http = std::make_shared<test::ScriptedPoster>();
    std::optional<std::int64_t> chat = 42;
    std::optional<std::string> token = kToken;
    std::optional<TelegramClient::ClipInfo> clipInfo;
    TelegramClient client { [this] {
                               if (!token)
                                   throw std::runtime_error("missing");
                               return *token;
                           },
        [this] { return chat; }, http, "https://api.example.org/",
        [this](const fs::path&) { return clipInfo; } };

    std::optional<SendError> sendError(const QueueJob& job)
    {
        return test::thrown<SendError>([&] { client.send(job); });
    }
};

TEST_F(TelegramClientTest, TextIsFormEncodedWithChatIdFirst)
{
    chat = -1001234567890;
    client.send({ Kind::text, "a b&c=\xC3\xBC+~", std::nullopt });

    ASSERT_EQ(http->requests().size(), 1u);
    const auto request = http->requests()[0];
    EXPECT_EQ(request.url, std::string("https://api.example.org/bot") + kToken + "/sendMessage");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.timeout, 30);
    EXPECT_EQ(request.headers,
        (decltype(request.headers) { { "Content-Type", "application/x-www-form-urlencoded" } }));
    EXPECT_EQ(request.body, "chat_id=-1001234567890&text=a%20b%26c%3D%C3%BC%2B~");
}

TEST_F(TelegramClientTest, PhotoIsOneMultipartBodyWithFieldsThenTheFile)
{
    const fs::path photo = folder.root() / "2026-12-06_10-00-00.jpg";
    const std::string jpeg("\xFF\xD8\xFF\xE0\0\r\n--binary\xFF\xD9", 15);
    test::OutboxFolder::write(photo, jpeg);

    client.send({ Kind::photo, "Pessoa · 10:00", photo });

    const auto request = http->requests().at(0);
    EXPECT_EQ(request.url, std::string("https://api.example.org/bot") + kToken + "/sendPhoto");
    EXPECT_EQ(request.timeout, 90);
    std::smatch match;
    ASSERT_EQ(request.headers.size(), 1u);
    const auto [name, contentType] = request.headers[0];
    EXPECT_EQ(name, "Content-Type");
    ASSERT_TRUE(std::regex_match(contentType, match,
        std::regex("multipart/form-data; "
                   "boundary=([0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12})")))
        << contentType;
    const std::string b = match[1];
    EXPECT_EQ(request.body,
        "--" + b + "\r\nContent-Disposition: form-data; name=\"caption\"\r\n\r\nPessoa · 10:00\r\n" + "--" + b
            + "\r\nContent-Disposition: form-data; name=\"chat_id\"\r\n\r\n42\r\n" + "--" + b
            + "\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"2026-12-06_10-00-00.jpg\"\r\n"
            + "Content-Type: image/jpeg\r\n\r\n" + jpeg + "\r\n--" + b + "--\r\n");

    client.send({ Kind::photo, "", photo });
    EXPECT_NE(http->requests().at(1).headers, request.headers) << "boundaries must be fresh";
}

TEST_F(TelegramClientTest, VideoCarriesRoundedDurationAndSizeWhenReadable)
{
    const fs::path clip = folder.root() / "clip \"1\"\r\nX-Injected: 1.mp4";
    test::OutboxFolder::write(clip, "mp4");

    clipInfo = TelegramClient::ClipInfo { 12.5, 1280, 720 };
    client.send({ Kind::video, "clipe", clip });
    clipInfo.reset();
    client.send({ Kind::video, "clipe", clip });

    const auto with = http->requests().at(0);
    EXPECT_EQ(with.timeout, 300);
    EXPECT_TRUE(with.url.ends_with("/sendVideo"));
    for (const auto& part : { "name=\"duration\"\r\n\r\n13\r\n", "name=\"width\"\r\n\r\n1280\r\n",
             "name=\"height\"\r\n\r\n720\r\n", "name=\"supports_streaming\"\r\n\r\ntrue\r\n",
             "Content-Type: video/mp4\r\n" })
        EXPECT_NE(with.body.find(part), std::string::npos) << part;
    // A quote, CR or LF in the file name can neither close the quoted name nor start a header line.
    EXPECT_NE(with.body.find("name=\"video\"; filename=\"clip %221%22%0D%0AX-Injected: 1.mp4\"\r\n"),
        std::string::npos);
    EXPECT_EQ(http->requests().at(1).body.find("duration"), std::string::npos);
}

TEST_F(TelegramClientTest, MissingPiecesFailBeforeAnythingIsPostedAndNoFailureShowsTheToken)
{
    const QueueJob job { Kind::text, "x", std::nullopt };
    token.reset();
    chat.reset();
    EXPECT_EQ(sendError(job), SendError::transient("chat do Telegram não confirmado"));
    chat = 42;
    EXPECT_EQ(sendError(job), SendError::transient("token do Telegram indisponível"));
    token = "";
    EXPECT_EQ(sendError(job), SendError::transient("token do Telegram indisponível"));
    token = kToken;
    EXPECT_EQ(sendError({ Kind::photo, "x", std::nullopt }), SendError::permanent("foto sem arquivo"));
    EXPECT_EQ(sendError({ Kind::video, "x", std::nullopt }), SendError::permanent("clipe sem arquivo"));
    EXPECT_EQ(sendError({ Kind::photo, "x", folder.root() / "vanished.jpg" }),
        SendError::permanent("arquivo ilegível: vanished.jpg"));
    EXPECT_EQ(sendError({ Kind::video, "x", folder.root() }).value().kind(), SendError::Case::permanent);
    EXPECT_TRUE(http->requests().empty());

    // Failures of the post itself never show the token.
    const std::string encoded = std::regex_replace(std::string(kToken), std::regex(":"), "%3a");
    http->fail(std::make_exception_ptr(
        Error(7, std::string("Failed to connect to https://api.example.org/bot") + kToken + "/sendMessage",
            "libcurl")));
    http->answer(401,
        std::string(R"({"ok":false,"error_code":401,"description":"Unauthorized bot )") + kToken + " ("
            + encoded + ")\"}");
    http->answer(429,
        std::string(R"({"ok":false,"error_code":429,"description":")") + kToken
            + R"(","parameters":{"retry_after":17}})");
    EXPECT_EQ(sendError(job),
        SendError::transient("Failed to connect to https://api.example.org/bot<token>/sendMessage"));
    EXPECT_EQ(sendError(job), SendError::transient("Telegram 401: Unauthorized bot <token> (<token>)"));
    EXPECT_EQ(sendError(job), SendError::retryAfter(17, "Telegram 429: <token>"));
}

TEST(TelegramCheckTest, ClassifiesTheAnswer)
{
    struct Row {
        int status;
        std::string body;
        std::optional<SendError> expected;
    };
    const std::string huge(1 << 16, 'd');
    const std::vector<Row> rows {
        { 200, R"({"ok":true,"result":{}})", std::nullopt },
        { 200, R"({"ok":false,"error_code":400,"description":"Bad Request: Chat Not Found"})",
            SendError::chatUnreachable("Telegram 400: Bad Request: Chat Not Found") },
        { 400, R"({"ok":false,"error_code":400,"description":"Bad Request: message text is empty"})",
            SendError::permanent("Telegram 400: Bad Request: message text is empty") },
        { 413, R"({"ok":false,"error_code":413,"description":"Request Entity Too Large"})",
            SendError::permanent("Telegram 413: Request Entity Too Large") },
        { 502, "<html>Bad Gateway</html>", SendError::transient("Telegram 502: HTTP 502") },
        { 200, "ok", SendError::transient("Telegram 200: HTTP 200") },
        { 401, R"({"ok":false,"error_code":401,"description":"Unauthorized"})",
            SendError::transient("Telegram 401: Unauthorized") },
        { 403, R"({"ok":false,"error_code":403,"description":"Forbidden: bot was blocked"})",
            SendError::chatUnreachable("Telegram 403: Forbidden: bot was blocked") },
        { 500, R"({"ok":false,"error_code":"400","description":7})",
            SendError::transient("Telegram 500: HTTP 500") },
        { 400, R"({"ok":false,"error_code":429})", SendError::retryAfter(5, "Telegram 429: HTTP 400") },
        { 429,
            R"({"ok":false,"error_code":429,"description":"Too Many Requests","parameters":{"retry_after":17}})",
            SendError::retryAfter(17, "Telegram 429: Too Many Requests") },
        { 429, R"({"ok":false,"parameters":{"retry_after":"17"}})",
            SendError::retryAfter(5, "Telegram 429: HTTP 429") },
        { 429, R"({"ok":false,"parameters":{"retry_after":1e999}})",
            SendError::retryAfter(5, "Telegram 429: HTTP 429") },
        { 429, R"({"ok":false,"parameters":{"retry_after":1e9}})",
            SendError::retryAfter(3600, "Telegram 429: HTTP 429") },
        { 500, R"({"ok":false,"error_code":500,"description":")" + huge + "\"}",
            SendError::transient("Telegram 500: " + huge) },
    };
    for (const auto& row : rows) {
        const auto error = test::thrown<SendError>([&] { TelegramClient::check(row.status, row.body); });
        EXPECT_EQ(error, row.expected)
            << row.body.substr(0, 80) << " -> " << (error ? error->message() : "ok");
    }
}

TEST(TelegramEndpointTest, AcceptsHttpsOrLoopbackHttpOnly)
{
    for (const char* allowed : { "https://api.telegram.org", "https://proxy.example:8443/tg",
             "http://127.0.0.1:8081", "http://localhost:9000", "http://[::1]:9000" })
        EXPECT_TRUE(TelegramClient::isAllowedEndpoint(allowed)) << allowed;
    for (const char* refused :
        { "http://api.telegram.org", "http://127.0.0.1.evil.org", "http://127.0.0.1@evil.org",
            "ftp://127.0.0.1", "https://", "api.telegram.org", "https://x.org/?q", "" })
        EXPECT_FALSE(TelegramClient::isAllowedEndpoint(refused)) << refused;

    EXPECT_EQ(TelegramClient::endpointFrom(std::string("http://evil.org")), "https://api.telegram.org");
    EXPECT_EQ(TelegramClient::endpointFrom(std::string("http://127.0.0.1:1")), "http://127.0.0.1:1");
    EXPECT_THROW(TelegramClient({}, {}, nullptr, "http://evil.org"), Error);
}

} // namespace
