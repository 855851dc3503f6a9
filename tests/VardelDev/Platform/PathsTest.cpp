#include "Paths.h"
#include "AppId.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one scope and restores the old value afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(Paths, StandardFolderFollowsAnAbsoluteXdgDataHomeOrFallsBackToHome)
{
    ScopedEnv home("HOME", "/home/ana");
    const std::pair<const char*, fs::path> rows[]
        = { { "/srv/data", "/srv/data" }, { nullptr, "/home/ana/.local/share" },
              { "", "/home/ana/.local/share" }, { "relative/dir", "/home/ana/.local/share" } };
    for (const auto& [xdgDataHome, base] : rows) {
        ScopedEnv xdg("XDG_DATA_HOME", xdgDataHome);
        EXPECT_EQ(Paths::standard().data(), base / kApplicationId) << (xdgDataHome ? xdgDataHome : "(unset)");
    }
}

TEST(Paths, PrepareCreatesEveryFolderPrivateAndKeepsExistingOnes)
{
    const fs::path root = fs::path(::testing::TempDir()) / ("paths-prepare-" + std::to_string(::getpid()));
    fs::remove_all(root);
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
    fs::remove_all(root);
}
