#include "Paths.h"

#include "AppId.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

    std::filesystem::path homeFolder()
    {
        if (const char* home = std::getenv("HOME"); home && *home)
            return home;
        // No HOME (started by a service manager): fall back to the password database.
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
            return entry->pw_dir;
        return "/tmp";
    }

    // Creates `folder` and any missing parents with mode 0700; mkdir applies the umask, so the mode is set
    // again on each folder made here. Existing folders are left as they are.
    void makeFolder(const std::filesystem::path& folder)
    {
        std::filesystem::path partial;
        for (const auto& part : folder) {
            partial /= part;
            if (::mkdir(partial.c_str(), 0700) == 0)
                ::chmod(partial.c_str(), 0700);
        }
    }

} // namespace

Paths::Paths(std::filesystem::path data)
    : m_data(std::move(data))
{
}

Paths Paths::standard()
{
    // XDG: a relative $XDG_DATA_HOME is invalid and must be ignored.
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        base = xdg;
    else
        base = homeFolder() / ".local" / "share";
    return Paths(base / kApplicationId);
}

void Paths::prepare() const
{
    for (const auto& folder : { data(), outbox(), outboxFailed(), events(), logs(), run(), clipsTmp() })
        makeFolder(folder);
}

} // namespace vardel
