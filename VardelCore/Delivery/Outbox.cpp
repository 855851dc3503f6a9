#include "Outbox.h"

#include "AtomicFile.h"
#include "Error.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace vardel {

namespace {

    bool isPlainWord(const std::string& kind)
    {
        return !kind.empty() && kind.size() <= 32 && std::all_of(kind.begin(), kind.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    }

} // namespace

Outbox::Outbox(fs::path directory, std::shared_ptr<const Clock> clock)
    : m_directory(std::move(directory))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

fs::path Outbox::enqueue(
    const std::string& kind, const std::optional<std::string>& text, const std::optional<std::string>& path)
{
    std::lock_guard guard(m_lock);

    // The kind is part of the file name: a slash or a dot in it could write outside the folder or
    // produce a name the reader would never pick up.
    if (!isPlainWord(kind))
        throw Error(1, "tipo de item inválido: " + kind);

    const double t = m_clock->now();
    // Whole seconds and fraction apart: a double near 1.7e18 cannot hold every nanosecond, but the whole
    // seconds and the fraction each convert exactly.
    std::uint64_t ns = 0;
    if (t >= 18'446'744'073.0) {
        ns = UINT64_MAX;
    } else if (t > 0) {
        const double seconds = std::floor(t);
        ns = static_cast<std::uint64_t>(seconds) * 1'000'000'000u
            + static_cast<std::uint64_t>((t - seconds) * 1'000'000'000.0);
    }
    const std::uint64_t stamp = std::max(m_lastStamp + 1, ns);
    m_lastStamp = stamp;

    const std::string base = std::to_string(stamp) + "-" + kind;
    const fs::path url = m_directory / (base + ".json");

    nlohmann::json item = nlohmann::json::object();
    item["kind"] = kind;
    item["created"] = t;
    item["text"] = text ? nlohmann::json(*text) : nlohmann::json(nullptr);
    item["path"] = path ? nlohmann::json(*path) : nlohmann::json(nullptr);
    // nlohmann's object keeps keys sorted; dump throws on invalid UTF-8 before anything touches the disk.
    const std::string bytes = item.dump(2) + "\n";

    AtomicFile::write(url, bytes, 0600);
    return url;
}

std::vector<fs::path> Outbox::pending() const
{
    std::vector<fs::path> items;
    std::error_code error;
    fs::directory_iterator it(m_directory, error);
    if (error)
        return items;
    for (fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            break;
        const fs::path& entry = it->path();
        if (entry.extension() == ".json")
            items.push_back(entry);
    }
    std::stable_sort(items.begin(), items.end(),
        [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return items;
}

int Outbox::removeTemporaries() const { return AtomicFile::removeLeftovers(m_directory); }

} // namespace vardel
