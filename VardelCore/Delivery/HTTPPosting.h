#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vardel {

// Sends one fully built HTTP request and returns the status and body. Any HTTP status, 4xx and 5xx
// included, is a successful post; only transport failures (no connection, DNS, TLS, time-out) throw,
// as vardel::Error with domain "libcurl" in the real implementation. Blocking; never on the main thread.
class HTTPPosting {
public:
    struct Request {
        std::string url;
        std::string method = "POST";
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // The only time limit of the request, in seconds.
        double timeout = 60;

        bool operator==(const Request&) const = default;
    };

    struct Response {
        // 0 when there was no HTTP answer.
        int status = 0;
        std::string body;

        bool operator==(const Response&) const = default;
    };

    virtual ~HTTPPosting() = default;
    virtual Response post(const Request& request) = 0;
    // Makes every post now in flight end soon (within about a second) with a transport failure; later
    // posts are not affected. Any thread. Implementations that cannot cancel do nothing.
    virtual void cancelAll() { }
};

} // namespace vardel
