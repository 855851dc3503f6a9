// The release feed as the server sent it: a check either fails with Updates::Failure or offers a
// release that is newer than the running version (and not older at the same time), whose version starts
// with a digit and whose address is https, never an empty note.
#include "FuzzSupport.h"
#include "HTTPPosting.h"
#include "Updates.h"

namespace {

struct FeedServer final : vardel::HTTPPosting {
    std::string body;
    Response post(const Request&) override { return { 200, body }; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    constexpr std::string_view kRunning = "1.4.2";
    FeedServer server;
    server.body = fuzz::text(data, size);
    std::optional<Updates::Release> release;
    try {
        release = Updates::check("https://updates.example/feed.json", kRunning, server);
    } catch (const Updates::Failure&) {
        return 0;
    }
    if (!release)
        return 0;
    fuzz::require(!Updates::isNewer(kRunning, release->version), "a release is both newer and older");
    fuzz::require(!Updates::isNewer(release->version, release->version), "a version is newer than itself");
    fuzz::require(release->version[0] >= '0' && release->version[0] <= '9', "a version without a number");
    fuzz::require(Updates::isHttpsAddress(release->url), "a release address that is not https");
    fuzz::require(!release->notes || !release->notes->empty(), "empty release notes are offered");
    return 0;
}
