#include "AppInfo.h"
#include "Brand.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <filesystem>

using namespace vardel;

namespace {

// A value stored under "UpdateFeedURL" (none when null) and whether it becomes the feed.
struct FeedCase {
    const char* name;
    const char* stored;
    bool accepted;
};

class UpdateFeed : public ::testing::TestWithParam<FeedCase> { };

} // namespace

TEST_P(UpdateFeed, UserDefaultIsUsedOnlyWhenHttpsOrAFile)
{
    const auto file = std::filesystem::path(::testing::TempDir())
        / ("update-feed-" + std::to_string(::getpid()) + ".ini");
    std::filesystem::remove(file);
    QSettings defaults(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (GetParam().stored)
        defaults.setValue("UpdateFeedURL", QString::fromUtf8(GetParam().stored));
    EXPECT_EQ(AppInfo::updateFeed(defaults), GetParam().accepted ? GetParam().stored : *Brand::updateFeedURL);
}

INSTANTIATE_TEST_SUITE_P(Values, UpdateFeed,
    ::testing::Values(FeedCase { "https", "https://example.org/brisko/latest.json", true },
        FeedCase { "file", "file:///srv/feed/latest.json", true }, FeedCase { "unset", nullptr, false },
        FeedCase { "http", "http://example.org/latest.json", false },
        FeedCase { "noHost", "https://", false }, FeedCase { "garbage", "not a url at all", false }),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(AppInfo, VersionComesFromTheBuild) { EXPECT_NE(AppInfo::version(), "0"); }
