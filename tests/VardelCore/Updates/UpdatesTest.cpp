#include "Updates.h"

#include "CancellablePoster.h"
#include "Error.h"
#include "OutboxFolder.h"
#include "ScriptedPoster.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vardel {
namespace {

    using Updates::Failure;
    namespace fs = std::filesystem;

    TEST(VersionTest, ComparesNumberByNumber)
    {
        EXPECT_TRUE(Updates::isNewer("1.10", "1.9"));
        EXPECT_FALSE(Updates::isNewer("1.9", "1.10"));
        EXPECT_FALSE(Updates::isNewer("1.2.0", "1.2"));
        EXPECT_FALSE(Updates::isNewer("1.2", "1.2.0"));
        EXPECT_TRUE(Updates::isNewer("2", "1.99.99"));
        EXPECT_TRUE(Updates::isNewer(" 1.10.3-beta ", "1.10.2"));
        EXPECT_FALSE(Updates::isNewer("99999999999999999999999.1", "0.2"));
    }

    TEST(DueTest, OnceADayOrWhenTheClockWentBack)
    {
        const double now = 1'000'000;
        EXPECT_TRUE(Updates::isDue(std::nullopt, now));
        EXPECT_FALSE(Updates::isDue(now - 23 * 3600, now));
        EXPECT_TRUE(Updates::isDue(now - 24 * 3600, now));
        EXPECT_TRUE(Updates::isDue(now + 24 * 3600, now));
    }

    struct FeedCase {
        std::string name;
        std::string body;
        std::optional<Updates::Release> release; // none: refused as broken
    };
    void PrintTo(const FeedCase& c, std::ostream* os) { *os << c.name; }

    class FeedTest : public ::testing::TestWithParam<FeedCase> { };

    TEST_P(FeedTest, ParsesOrRefuses)
    {
        try {
            EXPECT_EQ(Updates::parse(GetParam().body), GetParam().release);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind(), Failure::Case::badFeed);
            EXPECT_FALSE(GetParam().release) << failure.what();
        }
    }

    const std::string kNotes500(500, 'n');
    INSTANTIATE_TEST_SUITE_P(Feeds, FeedTest,
        ::testing::Values(FeedCase { "Plain", R"({"version":"2.0","url":"https://x.org/b.zip","notes":""})",
                              Updates::Release { "2.0", "https://x.org/b.zip", std::nullopt } },
            FeedCase { "NotesCut",
                R"({"version":"2.0","url":"https://x.org/b","notes":")" + kNotes500 + R"("})",
                Updates::Release { "2.0", "https://x.org/b", std::string(300, 'n') } },
            FeedCase { "VersionWithLetter", R"({"version":"v2.0","url":"https://x.org/b"})", std::nullopt },
            FeedCase { "PlainHttp", R"({"version":"2.0","url":"http://x.org/b"})", std::nullopt },
            FeedCase { "NoHost", R"({"version":"2.0","url":"https:///b"})", std::nullopt },
            FeedCase { "SpaceInAddress", R"({"version":"2.0","url":"https://x.org/a b"})", std::nullopt },
            FeedCase { "Array", R"(["2.0"])", std::nullopt },
            FeedCase { "Html", "<html>Bad Gateway</html>", std::nullopt }),
        [](const auto& testInfo) { return testInfo.param.name; });

    Failure::Case failureOf(const std::string& feed, HTTPPosting& http)
    {
        try {
            Updates::check(feed, "1.0", http);
        } catch (const Failure& failure) {
            return failure.kind();
        }
        ADD_FAILURE() << "no failure";
        return Failure::Case::offline;
    }

    TEST(CheckTest, HttpsAnswersDecideTheOutcome)
    {
        test::ScriptedPoster http;
        http.answer(200, R"({"version":"1.1","url":"https://x.org/b"})");
        EXPECT_EQ(Updates::check("https://x.org/latest.json", "1.0", http)->version, "1.1");
        EXPECT_EQ(http.requests().at(0).method, "GET");
        http.answer(200, R"({"version":"1.0","url":"https://x.org/b"})");
        EXPECT_EQ(Updates::check("https://x.org/latest.json", "1.0", http), std::nullopt);

        http.answer(200, R"({"version":"9","url":"https://x.org/b"})" + std::string(Updates::maxFeedBytes, ' '));
        EXPECT_EQ(failureOf("https://x.org/latest.json", http), Failure::Case::badFeed);
        http.answer(404, R"({"version":"9","url":"https://x.org/b"})");
        EXPECT_EQ(failureOf("https://x.org/latest.json", http), Failure::Case::badFeed);
        http.fail(std::make_exception_ptr(Error(6, "Could not resolve host", "libcurl")));
        EXPECT_EQ(failureOf("https://x.org/latest.json", http), Failure::Case::offline);
        http.fail(std::make_exception_ptr(Error(CancellablePoster::kTooLarge, "too large", "libcurl")));
        EXPECT_EQ(failureOf("https://x.org/latest.json", http), Failure::Case::badFeed);
        EXPECT_EQ(failureOf("http://x.org/latest.json", http), Failure::Case::badFeed);
    }

    TEST(CheckTest, LocalFeedsThatAreNotJsonOrHugeAreBroken)
    {
        test::ScriptedPoster http;
        test::OutboxFolder data;
        const fs::path folder = data.root();
        std::ofstream(folder / "text.json") << "not json";
        std::ofstream(folder / "huge.json") << R"({"version":"2","url":"https://x.org/b","notes":")";
        fs::resize_file(folder / "huge.json", 100'000'000); // sparse: costs no disk

        EXPECT_EQ(failureOf("file://" + (folder / "text.json").string(), http), Failure::Case::badFeed);
        EXPECT_EQ(failureOf("file://" + (folder / "huge.json").string(), http), Failure::Case::badFeed);
        EXPECT_EQ(failureOf("file://" + (folder / "missing.json").string(), http), Failure::Case::badFeed);
        EXPECT_TRUE(http.requests().empty());
    }

} // namespace
} // namespace vardel
