#pragma once

#include "HTTPPosting.h"

#include <atomic>
#include <cstdint>

namespace vardel {

// HTTPPosting over libcurl: one easy handle per request, so concurrent posts from different threads
// share nothing. No cookie engine, no cache, no redirects, TLS verification on, only http and https,
// and the request's own time-out as the only limit. Failures throw vardel::Error(CURLcode, message,
// "libcurl") carrying libcurl's own description.
class CurlPoster final : public HTTPPosting {
public:
    CurlPoster();
    Response post(const Request& request) override;
    // Aborts the transfers in flight through libcurl's progress callback (checked about once a second).
    void cancelAll() override { ++m_cancels; }

private:
    std::atomic<std::uint64_t> m_cancels { 0 };
};

} // namespace vardel
