#include "EventFiles.h"

#include "OutboxFolder.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sys/stat.h>

using namespace vardel;
using test::OutboxFolder;
using test::ScopedZone;
namespace fs = std::filesystem;

namespace {

double utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields {};
    fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
    fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second;
    return static_cast<double>(timegm(&fields));
}

mode_t modeOf(const fs::path& path) { return static_cast<mode_t>(fs::status(path).permissions()); }

std::vector<std::uint8_t> bytes(const std::string& text) { return { text.begin(), text.end() }; }

struct NameCase {
    const char* name;
    const char* zone;
    double at;
    const char* stamp;
};

class EventFileNames : public ::testing::TestWithParam<NameCase> { };

} // namespace

TEST_P(EventFileNames, FollowTheLocalTimeOfTheZone)
{
    ScopedZone zone(GetParam().zone);
    const std::string stamp = GetParam().stamp, day = stamp.substr(0, 10);
    EXPECT_EQ(EventFiles::dayName(GetParam().at), day);
    EXPECT_EQ(EventFiles::photoURL("/r", GetParam().at), fs::path("/r") / day / (stamp + ".jpg"));
    EXPECT_EQ(EventFiles::clipURL("/r", GetParam().at), fs::path("/r") / day / (stamp + ".mp4"));
}

INSTANTIATE_TEST_SUITE_P(Zones, EventFileNames,
    ::testing::Values(NameCase { "local", "BRT3", utc(2025, 3, 9, 10, 5, 3), "2025-03-09_07-05-03" },
        // Fractions of a second are cut off, never rounded up into the next second.
        NameCase { "fractionCut", "BRT3", utc(2025, 3, 9, 10, 5, 3) + 0.999, "2025-03-09_07-05-03" },
        NameCase { "lastSecondOfYear", "BRT3", utc(2026, 1, 1, 2, 59, 59), "2025-12-31_23-59-59" },
        NameCase { "summerTime", "Europe/Berlin", utc(2025, 3, 30, 1, 0, 0), "2025-03-30_03-00-00" }),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

class EventFilesOnDisk : public ::testing::Test {
protected:
    ScopedZone m_zone { "BRT3" };
    OutboxFolder m_folder;
    fs::path m_dir = m_folder.root();
    fs::path m_root = m_dir / "data" / "events";
    const double m_at = utc(2025, 3, 9, 10, 5, 3);
};

TEST_F(EventFilesOnDisk, PhotosAndClipsReplaceThoseOfTheSameSecondInPrivateFolders)
{
    const mode_t oldMask = ::umask(0);
    const fs::path first = EventFiles::writePhoto(bytes("a"), m_root, m_at);
    ::umask(oldMask);
    const std::string second = "second photo";
    EXPECT_EQ(EventFiles::writePhoto(bytes(second), m_root, m_at + 0.5), first);
    EXPECT_EQ(first, m_root / "2025-03-09" / "2025-03-09_07-05-03.jpg");
    EXPECT_EQ(OutboxFolder::read(first), second);
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_EQ(modeOf(m_root / "2025-03-09"), 0700u) << "a permissive umask must not widen new folders";
    EXPECT_EQ(modeOf(m_root), 0700u);

    const fs::path from = m_dir / "tmp.mp4";
    for (const char* clip : { "old clip", "new clip" }) {
        std::ofstream(from) << clip;
        fs::permissions(from, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
        EXPECT_EQ(EventFiles::moveClip(from, m_root, m_at), EventFiles::clipURL(m_root, m_at));
    }
    EXPECT_EQ(OutboxFolder::read(EventFiles::clipURL(m_root, m_at)), "new clip");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(modeOf(EventFiles::clipURL(m_root, m_at)), 0600u);
    // No scratch file is left next to the photo and the clip.
    EXPECT_EQ(std::distance(fs::directory_iterator(first.parent_path()), fs::directory_iterator()), 2);
}

TEST_F(EventFilesOnDisk, FailuresAreRaisedAndLeaveTheSourceInPlace)
{
    EXPECT_THROW(EventFiles::moveClip(m_dir / "missing.mp4", m_root, m_at), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(EventFiles::clipURL(m_root, m_at)));
    // A file where the day folder should be.
    m_root = m_dir / "other";
    fs::create_directories(m_root);
    std::ofstream(m_root / "2025-03-09") << "x";
    std::ofstream(m_dir / "tmp.mp4") << "clip";
    EXPECT_THROW(EventFiles::moveClip(m_dir / "tmp.mp4", m_root, m_at), fs::filesystem_error);
    EXPECT_TRUE(fs::exists(m_dir / "tmp.mp4"));
    EXPECT_THROW(EventFiles::writePhoto(bytes("p"), m_root, m_at), fs::filesystem_error);
}
