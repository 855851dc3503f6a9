#include "AppId.h"
#include "AppInfo.h"
#include "FakeClock.h"
#include "Log.h"
#include "OutboxFolder.h"
#include "Paths.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace vardel;
namespace fs = std::filesystem;

TEST(DataFolder, FollowsXdgIsPrivateAndHoldsAStampedLogThatRotatesAboveTheLimit)
{
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    setenv("HOME", "/home/ana", 1);
    const std::pair<const char*, fs::path> rows[]
        = { { "/srv/data", "/srv/data" }, { nullptr, "/home/ana/.local/share" },
              { "", "/home/ana/.local/share" }, { "relative/dir", "/home/ana/.local/share" } };
    for (const auto& [xdgDataHome, base] : rows) {
        xdgDataHome ? setenv("XDG_DATA_HOME", xdgDataHome, 1) : unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(Paths::standard().data(), base / kApplicationId) << (xdgDataHome ? xdgDataHome : "(unset)");
    }
    setenv("HOME", home.c_str(), 1),
        savedXdg ? setenv("XDG_DATA_HOME", xdg.c_str(), 1) : unsetenv("XDG_DATA_HOME");

    test::OutboxFolder data;
    const fs::path root = data.root();
    const mode_t oldMask = ::umask(022);
    Paths paths(root / "nested" / "data");
    paths.prepare();
    fs::create_directories(paths.events() / "2026-01-02");
    paths.prepare(); // a second run finds everything in place and keeps what is inside
    ::umask(oldMask);
    for (const auto& folder : { paths.data(), paths.outbox(), paths.outboxFailed(), paths.events(),
             paths.logs(), paths.run(), paths.clipsTmp(), root / "nested" })
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    EXPECT_TRUE(fs::is_directory(paths.events() / "2026-01-02"));
    EXPECT_EQ(paths.appState(), paths.data() / "run" / "app-state.json");

    const fs::path folder = paths.logs(), file = folder / "app.log";
    const auto clock = std::make_shared<test::FakeClock>(1772600767.9);
    // 2026-03-04 05:06:07.9 UTC; the fraction is cut, not rounded. POSIX zones need no time zone database.
    test::ScopedZone zone("UTC0");
    for (const char* name : { "UTC0", "BRT3" }) {
        zone.set(name);
        Log(folder, clock).info(name); // destruction writes pending lines
    }
    EXPECT_EQ(test::OutboxFolder::read(file), "2026-03-04 05:06:07 UTC0\n2026-03-04 02:06:07 BRT3\n");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // Rotation looks at the size before the line.
    for (std::uintmax_t size : { Log::kRotateAbove, Log::kRotateAbove + 1 }) {
        std::ofstream(folder / "app.log.1") << "oldest\n";
        std::ofstream(file) << std::string(size, 'x');
        Log(folder, clock).info("nova");
        const bool rotated = size > Log::kRotateAbove;
        // A line is the 19-character stamp, a space, "nova" and a newline.
        EXPECT_EQ(fs::file_size(file), rotated ? 25u : size + 25) << size;
        EXPECT_EQ(fs::file_size(folder / "app.log.1"), rotated ? size : 7u) << size;
    }
}

TEST(AppInfo, VersionComesFromTheBuild) { EXPECT_NE(AppInfo::version(), "0"); }
