#pragma once

#include "HTTPPosting.h"

#include <atomic>
#include <cstddef>
#include <limits>

namespace vardel {

// HTTPPosting over libcurl for the setup flow and the update check, with two limits the alert poster
// does not need: `cancel()` ends a transfer in flight (a 15 s long poll included) within about a tenth
// of a second and makes every later post fail at once, so an owner going away never waits for the
// network; and answers longer than `maxBody` bytes fail instead of filling memory. Failures throw
// vardel::Error with domain "libcurl". `post` may run on any thread; `cancel` too.
class CancellablePoster final : public HTTPPosting {
public:
    // The error code of an answer over the size limit (libcurl's CURLE_FILESIZE_EXCEEDED).
    static constexpr int kTooLarge = 63;

    explicit CancellablePoster(std::size_t maxBody = std::numeric_limits<std::size_t>::max());

    Response post(const Request& request) override;
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }

private:
    std::size_t m_maxBody;
    std::atomic<bool> m_cancelled { false };
};

} // namespace vardel
