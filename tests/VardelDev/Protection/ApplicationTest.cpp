#include "AppHarness.h"
#include "Captions.h"
#include "FakeBotApi.h"
#include "L.h"
#include "VideoInfo.h"

#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    // The alerts the chat received, without the command poller's own calls.
    std::vector<FakeBotApi::Call> alerts(const FakeBotApi& api)
    {
        auto calls = api.calls();
        std::erase_if(calls, [](const auto& call) { return !call.method.starts_with("send"); });
        return calls;
    }

    // GIVEN protection switched on over a street video, WHEN people walk through, THEN the chat gets the
    // "protection on" text, the event photo and its clip, in that order and once each, and the model
    // publishes the event and the photo's delivery. In motion mode the Bot API first drops the first text's
    // connection and then refuses the photo for good: it goes to "failed/" and must not show as sent.
    class ApplicationRoad : public testing::TestWithParam<DetectionMode> { };

    TEST_P(ApplicationRoad, PersonWalkingInReachesTheChatAsTextPhotoAndClip)
    {
        if (!fs::exists(kStreetVideo))
            GTEST_SKIP() << "opencv-doc is not installed: " << kStreetVideo;
        L::setLanguage(AppLanguage::en);
        const bool person = GetParam() == DetectionMode::person;
        const int lostTexts = person ? 0 : 1;
        DataFolder folder(GetParam());
        folder.settings.postSeconds = 1;
        folder.writeSettings(folder.settings);
        FakeBotApi api;
        if (!person) {
            api.failNext(FakeBotApi::Fault::dropConnection(), "sendMessage");
            api.failNext(FakeBotApi::Fault::httpError(400, "Bad Request: IMAGE_PROCESS_FAILED"), "sendPhoto");
        }
        auto clock = std::make_shared<HurriedClock>();
        Model model(appOptions(folder, api.endpoint(), kStreetVideo, clock));

        std::vector<bool> photoPending;
        std::vector<int> queue;
        QObject::connect(
            &model, &Model::photoPendingChanged, [&] { photoPending.push_back(model.photoPending()); });
        QObject::connect(&model, &Model::queueChanged, [&] { queue.push_back(model.queue()); });

        model.toggleMonitoring();
        ASSERT_EQ(model.mode(), Mode::monitor) << model.phase().failure;
        // Past settling and the warm-up once the first picture is in.
        ASSERT_TRUE(runUntil([&] { return !model.latestFrame().empty(); }, 10));
        clock->hurry(12, 0.7);

        const std::size_t expected = 3 + static_cast<std::size_t>(lostTexts);
        ASSERT_TRUE(runUntil([&] { return alerts(api).size() >= expected && model.queue() == 0; }, 90))
            << alerts(api).size() << " calls, " << model.queue() << " waiting";
        runUntil([] { return false; }, 0.5); // nothing more arrives

        auto calls = alerts(api);
        ASSERT_EQ(calls.size(), expected);
        // The lost attempts are those of the first text, which the others wait behind.
        calls.erase(calls.begin(), calls.begin() + lostTexts);
        EXPECT_EQ(calls[0].method, "sendMessage");
        ASSERT_TRUE(model.monitorSince());
        EXPECT_EQ(calls[0].fields.at("text"), Captions::brandAndTime(K::tgStarted, *model.monitorSince()));
        EXPECT_EQ(calls[1].method, "sendPhoto");
        EXPECT_EQ(calls[2].method, "sendVideo");

        ASSERT_TRUE(model.lastEvent());
        const double at = *model.lastEvent();
        ASSERT_TRUE(model.lastEventKind());
        EXPECT_EQ(calls[1].fields.at("caption"), Captions::alert(*model.lastEventKind(), at));
        EXPECT_EQ(*model.lastEventKind(), person ? EventKind::person : EventKind::motion);

        const auto photos = folder.eventFiles(".jpg");
        const auto clips = folder.eventFiles(".mp4");
        ASSERT_EQ(photos.size(), 1u);
        ASSERT_EQ(clips.size(), 1u);
        ASSERT_EQ(calls[1].files.size(), 1u);
        EXPECT_EQ(calls[1].files[0].bytes, DataFolder::read(photos[0]));
        EXPECT_EQ(calls[1].files[0].bytes.substr(0, 3), "\xFF\xD8\xFF");
        EXPECT_EQ(model.lastPhotoFile(), photos[0]);

        ASSERT_EQ(calls[2].files.size(), 1u);
        EXPECT_EQ(calls[2].files[0].bytes, DataFolder::read(clips[0]));
        const auto info = VideoInfo::read(clips[0]);
        ASSERT_TRUE(info);
        EXPECT_EQ(
            calls[2].fields.at("duration"), std::to_string(static_cast<int>(std::lround(info->seconds))));
        EXPECT_EQ(calls[2].fields.at("width"), std::to_string(info->width));
        EXPECT_EQ(calls[2].fields.at("height"), std::to_string(info->height));

        EXPECT_EQ(photoPending, (std::vector<bool> { true, false }));
        EXPECT_EQ(fs::is_empty(folder.paths.outboxFailed()), person);
        EXPECT_EQ(model.lastPhotoSentAt().has_value(), person);
        EXPECT_GE(model.lastPhotoSentAt().value_or(at), at);
        // While Telegram is unreachable the alerts show as waiting.
        EXPECT_TRUE(person || std::ranges::any_of(queue, [](int waiting) { return waiting > 0; }));
        EXPECT_EQ(model.queue(), 0);
        EXPECT_EQ(model.telegramOK(), std::optional<bool>(true));
        EXPECT_EQ(model.presentation().tone,
            person ? StatusPresentation::Tone::person : StatusPresentation::Tone::motion)
            << model.presentation().title;
    }

    INSTANTIATE_TEST_SUITE_P(Application, ApplicationRoad,
        testing::Values(DetectionMode::person, DetectionMode::motion), [](const auto& row) {
            return row.param == DetectionMode::person ? "person" : "motionPhotoRefusedAfterBotApiOutage";
        });

} // namespace
} // namespace vardel::test
