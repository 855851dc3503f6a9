#include "Paths.h"
#include "AppId.h"
#include "AppInfo.h"
#include "OutboxFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vardel;
namespace fs = std::filesystem;

TEST(Paths, StandardFolderFollowsAnAbsoluteXdgDataHomeOrFallsBackToHome)
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
}

TEST(Paths, PrepareCreatesEveryFolderPrivateAndKeepsExistingOnes)
{
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
}

TEST(AppInfo, VersionComesFromTheBuild) { EXPECT_NE(AppInfo::version(), "0"); }
