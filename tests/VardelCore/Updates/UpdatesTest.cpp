#include "Updates.h"

#include "CancellablePoster.h"
#include "Error.h"
#include "OutboxFolder.h"
#include "ScriptedPoster.h"
#include "Thrown.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vardel {
namespace {

    using Updates::Failure;
    namespace fs = std::filesystem;

    TEST(VersionTest, ComparesNumberByNumberAndIsDueOnceADayOrWhenTheClockWentBack)
    {
        for (const auto& [newer, older] : std::vector<std::pair<const char*, const char*>> {
                 { "1.10", "1.9" }, { "2", "1.99.99" }, { " 1.10.3-beta ", "1.10.2" } })
            EXPECT_TRUE(Updates::isNewer(newer, older) && !Updates::isNewer(older, newer)) << newer;
        EXPECT_FALSE(Updates::isNewer("1.2.0", "1.2"));
        EXPECT_FALSE(Updates::isNewer("1.2", "1.2.0"));
        EXPECT_FALSE(Updates::isNewer("99999999999999999999999.1", "0.2"));

        const double now = 1'000'000;
        EXPECT_TRUE(Updates::isDue(std::nullopt, now));
        EXPECT_FALSE(Updates::isDue(now - 23 * 3600, now));
        EXPECT_TRUE(Updates::isDue(now - 24 * 3600, now));
        EXPECT_TRUE(Updates::isDue(now + 24 * 3600, now));
    }

    TEST(FeedTest, ParsesOrRefuses)
    {
        const std::vector<std::pair<std::string, std::optional<Updates::Release>>> rows {
            { R"({"version":"2.0","url":"https://x.org/b.zip","notes":""})",
                Updates::Release { "2.0", "https://x.org/b.zip", std::nullopt } },
            { R"({"version":"2.0","url":"https://x.org/b","notes":")" + std::string(500, 'n') + R"("})",
                Updates::Release { "2.0", "https://x.org/b", std::string(300, 'n') } },
            { R"({"version":"v2.0","url":"https://x.org/b"})", std::nullopt },
            { R"({"version":"2.0","url":"http://x.org/b"})", std::nullopt },
            { R"({"version":"2.0","url":"https:///b"})", std::nullopt },
            { R"({"version":"2.0","url":"https://x.org/a b"})", std::nullopt },
            { R"(["2.0"])", std::nullopt },
            { "<html>Bad Gateway</html>", std::nullopt },
        };
        for (const auto& [body, release] : rows) {
            std::optional<Updates::Release> parsed;
            const auto failure = test::thrown<Failure>([&] { parsed = Updates::parse(body); });
            EXPECT_EQ(parsed, release) << body;
            EXPECT_TRUE(!failure || failure->kind() == Failure::Case::badFeed) << failure->what();
        }
    }

    TEST(CheckTest, AnswersDecideTheOutcomeAndBrokenOrHugeFeedsAreRefused)
    {
        test::ScriptedPoster http;
        auto failureOf = [&](const std::string& feed) {
            return test::thrown<Failure>([&] { Updates::check(feed, "1.0", http); }).value().kind();
        };
        const std::string feed = "https://x.org/latest.json";
        http.answer(200, R"({"version":"1.1","url":"https://x.org/b"})");
        EXPECT_EQ(Updates::check(feed, "1.0", http)->version, "1.1");
        EXPECT_EQ(http.requests().at(0).method, "GET");
        http.answer(200, R"({"version":"1.0","url":"https://x.org/b"})");
        EXPECT_EQ(Updates::check(feed, "1.0", http), std::nullopt);

        http.answer(
            200, R"({"version":"9","url":"https://x.org/b"})" + std::string(Updates::maxFeedBytes, ' '));
        EXPECT_EQ(failureOf(feed), Failure::Case::badFeed);
        http.answer(404, R"({"version":"9","url":"https://x.org/b"})");
        EXPECT_EQ(failureOf(feed), Failure::Case::badFeed);
        http.fail(std::make_exception_ptr(Error(6, "Could not resolve host", "libcurl")));
        EXPECT_EQ(failureOf(feed), Failure::Case::offline);
        http.fail(std::make_exception_ptr(Error(CancellablePoster::kTooLarge, "too large", "libcurl")));
        EXPECT_EQ(failureOf(feed), Failure::Case::badFeed);
        EXPECT_EQ(failureOf("http://x.org/latest.json"), Failure::Case::badFeed);
        const auto asked = http.requests().size();

        test::OutboxFolder data;
        std::ofstream(data.root() / "text.json") << "not json";
        std::ofstream(data.root() / "huge.json") << R"({"version":"2","url":"https://x.org/b","notes":")";
        fs::resize_file(data.root() / "huge.json", 100'000'000); // sparse: costs no disk
        for (const char* name : { "text.json", "huge.json", "missing.json" })
            EXPECT_EQ(failureOf("file://" + (data.root() / name).string()), Failure::Case::badFeed) << name;
        EXPECT_EQ(http.requests().size(), asked);
    }

} // namespace
} // namespace vardel
