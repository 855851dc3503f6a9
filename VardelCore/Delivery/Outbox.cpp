#include "Outbox.h"

#include "AtomicFile.h"
#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vardel {

namespace {

    // A safety net for changes inotify does not report (network file systems, a missed event).
    constexpr auto kRescanInterval = std::chrono::seconds(60);
    constexpr std::uint32_t kWatchedEvents
        = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

    bool isPlainWord(const std::string& kind)
    {
        return !kind.empty() && kind.size() <= 32 && std::all_of(kind.begin(), kind.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    }

    // Items are the entries whose extension is exactly ".json"; temporaries and stray files are not.
    bool isItemName(const std::string& name) { return fs::path(name).extension() == ".json"; }

    std::uint64_t nanoseconds(double t)
    {
        // Whole seconds and fraction apart: a double near 1.7e18 cannot hold every nanosecond, but the
        // whole seconds and the fraction each convert exactly.
        if (!(t > 0))
            return 0;
        if (t >= 18'446'744'073.0)
            return UINT64_MAX;
        const double seconds = std::floor(t);
        return static_cast<std::uint64_t>(seconds) * 1'000'000'000u
            + static_cast<std::uint64_t>((t - seconds) * 1'000'000'000.0);
    }

} // namespace

Outbox::Outbox(fs::path directory, std::shared_ptr<const Clock> clock)
    : m_directory(std::move(directory))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

Outbox::~Outbox()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
}

fs::path Outbox::enqueue(
    const std::string& kind, const std::optional<std::string>& text, const std::optional<std::string>& path)
{
    fs::path written;
    {
        std::lock_guard guard(m_lock);

        // The kind is part of the file name: a slash or a dot in it could write outside the folder or
        // produce a name the reader would never pick up.
        if (!isPlainWord(kind))
            throw Error(1, "tipo de item inválido: " + kind);

        const double t = m_clock->now();
        const std::uint64_t first = std::max(m_lastStamp + 1, nanoseconds(t));

        nlohmann::json item = nlohmann::json::object();
        item["kind"] = kind;
        item["created"] = t;
        item["text"] = text ? nlohmann::json(*text) : nlohmann::json(nullptr);
        item["path"] = path ? nlohmann::json(*path) : nlohmann::json(nullptr);
        // nlohmann's object keeps keys sorted; dump throws on invalid UTF-8 before the disk is touched.
        const std::string bytes = item.dump(2) + "\n";

        // A name taken by another writer is never replaced: the item takes the next stamp instead.
        written = AtomicFile::create(bytes, 0600, [&](int attempt) {
            m_lastStamp = attempt == 0 ? first : m_lastStamp + 1;
            return m_directory / (std::to_string(m_lastStamp) + "-" + kind + ".json");
        });
    }
    std::lock_guard guard(m_listenerLock);
    if (m_listener)
        m_listener();
    return written;
}

void Outbox::setEnqueueListener(std::function<void()> listener)
{
    std::lock_guard guard(m_listenerLock);
    m_listener = std::move(listener);
}

std::vector<fs::path> Outbox::pending() const
{
    std::lock_guard guard(m_indexLock);
    refresh();
    std::vector<fs::path> items;
    items.reserve(m_items.size());
    for (const auto& name : m_items)
        items.push_back(m_directory / name);
    return items;
}

std::optional<fs::path> Outbox::oldest(const std::set<std::string>& skipping) const
{
    std::lock_guard guard(m_indexLock);
    refresh();
    for (const auto& name : m_items)
        if (!skipping.contains(name))
            return m_directory / name;
    return std::nullopt;
}

std::size_t Outbox::count() const
{
    std::lock_guard guard(m_indexLock);
    refresh();
    return m_items.size();
}

void Outbox::refresh() const
{
    if (m_watch < 0)
        watch();
    if (m_watch >= 0)
        readEvents();
    if (m_watch < 0 || m_stale || std::chrono::steady_clock::now() - m_lastScan >= kRescanInterval)
        rescan();
}

void Outbox::watch() const
{
    if (m_inotify < 0)
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return;
    m_watch = ::inotify_add_watch(m_inotify, m_directory.c_str(), kWatchedEvents);
    // Whatever happened before the watch existed is only known from a full listing.
    m_stale = true;
}

void Outbox::readEvents() const
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN)
                m_stale = true;
            return;
        }
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                m_stale = true;
            } else if (event->wd != m_watch) {
                continue; // left over from a watch dropped earlier
            } else if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder itself went away or moved: watch the path again at the next look.
                ::inotify_rm_watch(m_inotify, m_watch);
                m_watch = -1;
                m_stale = true;
            } else if (event->len > 0) {
                const std::string name(event->name);
                if (!isItemName(name))
                    continue;
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    m_items.insert(name);
                else
                    m_items.erase(name);
            }
        }
    }
}

void Outbox::rescan() const
{
    m_items.clear();
    m_stale = false;
    m_lastScan = std::chrono::steady_clock::now();
    std::error_code error;
    fs::directory_iterator it(m_directory, error);
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (isItemName(name))
            m_items.insert(std::move(name));
    }
}

} // namespace vardel
