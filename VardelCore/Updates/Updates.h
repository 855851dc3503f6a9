#pragma once

#include "HTTPPosting.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vardel {

// The release feed: a small JSON object {"version", "url", "notes"} read once a day. Version comparison,
// the due rule, parsing and the (blocking) fetch; no state. Any thread.
namespace Updates {

    struct Release {
        std::string version; // starts with a digit
        std::string url; // https with a host
        std::optional<std::string> notes; // at most 300 characters, never empty

        bool operator==(const Release&) const = default;
    };

    class Failure : public std::runtime_error {
    public:
        // offline: the feed could not be fetched; badFeed: it was reached but is not usable.
        enum class Case { offline, badFeed };

        Failure(Case kind, const std::string& message)
            : std::runtime_error(message)
            , m_case(kind)
        {
        }
        Case kind() const { return m_case; }

    private:
        Case m_case;
    };

    // Seconds between automatic checks.
    inline constexpr double interval = 86400;
    // A feed is a few hundred bytes; anything larger than this is refused unread.
    inline constexpr std::size_t maxFeedBytes = 64 * 1024;

    // "1.10" is newer than "1.9"; "1.2.0" equals "1.2"; pieces are read by their leading digits.
    bool isNewer(std::string_view a, std::string_view than);
    // Due with no last check, a day after it, or when it lies in the future (clock set back).
    bool isDue(std::optional<double> last, double now);
    // Throws Failure(badFeed) for anything but a JSON object that follows the feed rules.
    Release parse(std::string_view bytes);
    // "https://" with a host and nothing that would not survive in an address.
    bool isHttpsAddress(std::string_view address);

    // Reads `feed` (an https address through `http`, or a "file://" path from disk) and returns the
    // release when it is newer than `current`. Throws Failure.
    std::optional<Release> check(const std::string& feed, std::string_view current, HTTPPosting& http);

} // namespace Updates

} // namespace vardel
