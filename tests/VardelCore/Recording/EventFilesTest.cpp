#include "EventFiles.h"

#include "OutboxFolder.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace vardel;
using test::OutboxFolder;
using test::ScopedZone;
namespace fs = std::filesystem;

namespace {

constexpr double kAt = 1741514703; // 2025-03-09 10:05:03 UTC, 07:05:03 in BRT3

mode_t modeOf(const fs::path& path) { return static_cast<mode_t>(fs::status(path).permissions()); }

std::vector<std::uint8_t> bytes(const std::string& text) { return { text.begin(), text.end() }; }

TEST(EventFiles, NamesFollowTheLocalTimeOfTheZone)
{
    const std::tuple<const char*, double, std::string> rows[] = {
        { "BRT3", kAt, "2025-03-09_07-05-03" },
        // Fractions of a second are cut off, never rounded up into the next second.
        { "BRT3", kAt + 0.999, "2025-03-09_07-05-03" },
        { "BRT3", 1767236399 /* 2026-01-01 02:59:59 UTC */, "2025-12-31_23-59-59" },
        { "Europe/Berlin", 1743296400 /* 2025-03-30 01:00:00 UTC */, "2025-03-30_03-00-00" },
    };
    for (const auto& [name, at, stamp] : rows) {
        ScopedZone zone(name);
        const std::string day = stamp.substr(0, 10);
        EXPECT_EQ(EventFiles::dayName(at), day);
        EXPECT_EQ(EventFiles::photoURL("/r", at), fs::path("/r") / day / (stamp + ".jpg"));
        EXPECT_EQ(EventFiles::clipURL("/r", at), fs::path("/r") / day / (stamp + ".mp4"));
    }
}

TEST(EventFiles, PhotosAndClipsReplaceThoseOfTheSameSecondInPrivateFoldersAndFailuresLeaveTheSource)
{
    ScopedZone zone("BRT3");
    OutboxFolder folder;
    const fs::path dir = folder.root(), root = dir / "data" / "events";
    const mode_t oldMask = ::umask(0);
    const fs::path first = EventFiles::writePhoto(bytes("a"), root, kAt);
    ::umask(oldMask);
    const std::string second = "second photo";
    EXPECT_EQ(EventFiles::writePhoto(bytes(second), root, kAt + 0.5), first);
    EXPECT_EQ(first, root / "2025-03-09" / "2025-03-09_07-05-03.jpg");
    EXPECT_EQ(OutboxFolder::read(first), second);
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_EQ(modeOf(root / "2025-03-09"), 0700u) << "a permissive umask must not widen new folders";
    EXPECT_EQ(modeOf(root), 0700u);

    const fs::path from = dir / "tmp.mp4";
    for (const char* clip : { "old clip", "new clip" }) {
        std::ofstream(from) << clip;
        fs::permissions(from, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
        EXPECT_EQ(EventFiles::moveClip(from, root, kAt), EventFiles::clipURL(root, kAt));
    }
    EXPECT_EQ(OutboxFolder::read(EventFiles::clipURL(root, kAt)), "new clip");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(modeOf(EventFiles::clipURL(root, kAt)), 0600u);
    // No scratch file is left next to the photo and the clip.
    EXPECT_EQ(std::distance(fs::directory_iterator(first.parent_path()), fs::directory_iterator()), 2);

    EXPECT_THROW(EventFiles::moveClip(dir / "missing.mp4", dir / "new", kAt), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(EventFiles::clipURL(dir / "new", kAt)));
    // A file where the day folder should be.
    const fs::path other = dir / "other";
    fs::create_directory(other);
    std::ofstream(other / "2025-03-09") << "x";
    std::ofstream(from) << "clip";
    EXPECT_THROW(EventFiles::moveClip(from, other, kAt), fs::filesystem_error);
    EXPECT_TRUE(fs::exists(from));
    EXPECT_THROW(EventFiles::writePhoto(bytes("p"), other, kAt), fs::filesystem_error);
}

} // namespace
