#include "Paths.h"
#include "AppId.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
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

unsigned modeOf(const fs::path& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

TEST(Paths, StandardFolderFollowsXdgDataHomeAndFallsBackToHome)
{
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(Paths::standard().data(), fs::path("/srv/data") / kApplicationId);
    }
    ScopedEnv home("HOME", "/home/ana");
    for (const char* unusable : { static_cast<const char*>(nullptr), "", "relative/dir" }) {
        ScopedEnv xdg("XDG_DATA_HOME", unusable);
        EXPECT_EQ(Paths::standard().data(), fs::path("/home/ana/.local/share") / kApplicationId)
            << (unusable ? unusable : "(unset)");
    }
}

TEST(Paths, PrepareCreatesEveryFolderPrivateAndKeepsExistingOnes)
{
    const fs::path root = fs::path(::testing::TempDir()) / ("paths-prepare-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const mode_t oldMask = ::umask(022);
    Paths paths(root / "nested" / "data");
    paths.prepare();
    // A second run finds everything in place and keeps what is inside.
    fs::create_directories(paths.events() / "2026-01-02");
    paths.prepare();
    ::umask(oldMask);

    for (const auto& folder : { paths.data(), paths.outbox(), paths.outboxFailed(), paths.events(),
             paths.logs(), paths.run(), paths.clipsTmp(), root / "nested" }) {
        EXPECT_TRUE(fs::is_directory(folder)) << folder;
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    }
    EXPECT_TRUE(fs::is_directory(paths.events() / "2026-01-02"));
    EXPECT_EQ(paths.config(), paths.data() / "config.json");
    EXPECT_EQ(paths.appState(), paths.data() / "run" / "app-state.json");
    fs::remove_all(root);
}
