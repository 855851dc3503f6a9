// libcurl against the fake Bot API server on loopback.
#include "CurlPoster.h"

#include "Error.h"
#include "FakeBotApi.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

using namespace vardel;
using Fault = test::FakeBotApi::Fault;

namespace {

TEST(CurlPoster, ReturnsAnyStatusAndFailsOnlyInTransport)
{
    test::FakeBotApi api;
    CurlPoster poster;
    HTTPPosting::Request request;
    request.url = api.endpoint() + "/bot" + api.token() + "/noSuchMethod";
    request.timeout = 5;
    const auto notFound = poster.post(request);
    EXPECT_EQ(notFound.status, 404);
    EXPECT_EQ(nlohmann::json::parse(notFound.body)["description"], "Not Found");

    // A request that outlives its own time-out fails quickly with libcurl's description.
    api.failNext(Fault::delay(30));
    request.url = api.endpoint() + "/bot" + api.token() + "/getMe";
    request.timeout = 0.3;
    const auto started = std::chrono::steady_clock::now();
    try {
        poster.post(request);
        ADD_FAILURE() << "no time-out";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), "libcurl");
        EXPECT_NE(error.description().find("imed out"), std::string::npos) << error.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

    request.url = "http://127.0.0.1:1/bot/getMe";
    EXPECT_THROW(poster.post(request), Error);

    // A held request is cancelled on demand, and the next one is not.
    api.failNext(Fault::hold());
    request.url = api.endpoint() + "/bot" + api.token() + "/getMe";
    request.timeout = 60;
    auto held = std::async(std::launch::async, [&] { return poster.post(request); });
    ASSERT_TRUE(api.waitForHeld(1));
    poster.cancelAll();
    ASSERT_EQ(held.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_THROW(held.get(), Error);
    EXPECT_EQ(poster.post(request).status, 200);
    request.url = "file:///etc/passwd";
    EXPECT_THROW(poster.post(request), Error);
}

} // namespace
