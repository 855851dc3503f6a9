#include "OnboardingModel.h"

#include "AppHarness.h"
#include "FakeBotApi.h"
#include "FileCameraSource.h"
#include "L.h"
#include "Log.h"
#include "MemorySecretStore.h"
#include "Model.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;
    using json = nlohmann::json;
    using KeyState = OnboardingModel::KeyState;

    const std::string kOtherBotsToken = "999999:" + std::string(35, 'o');

    json startMessage(const std::string& code, const std::string& chatType, std::int64_t chat)
    {
        return { { "message",
            { { "text", "/start " + code }, { "chat", { { "id", chat }, { "type", chatType } } },
                { "from", { { "first_name", "Maria" }, { "username", "maria" } } } } } };
    }

    // A model over a fresh data folder and the fake Bot API, with the onboarding model on top.
    class OnboardingTest : public ::testing::Test {
    protected:
        void SetUp() override { L::setLanguage(AppLanguage::en); }

        void open(std::optional<std::string> storedToken, bool chatConfirmed = false)
        {
            Settings settings = folder.settings;
            settings.chatConfirmed = chatConfirmed;
            folder.writeSettings(settings);
            Model::Options options;
            options.paths = folder.paths;
            if (fs::exists(kStreetVideo))
                options.camera = std::make_unique<FileCameraSource>(kStreetVideo.string());
            options.secrets = secrets = std::make_shared<MemorySecretStore>(storedToken);
            options.endpoint = api.endpoint();
            app = std::make_unique<Model>(std::move(options));
            flow = std::make_unique<OnboardingModel>(
                *app, OnboardingModel::Options { api.endpoint(), nullptr, "José Álvares" });
            api.setResult("getMyDescription", { { "description", "" } });
            api.setResult("getMyShortDescription", { { "short_description", "" } });
        }

        // Enters the confirm step and waits until the pairing loop's first long poll is open.
        void pairingOpen()
        {
            const auto polls = api.callsOf("getUpdates").size();
            flow->go(ObStep::confirm);
            ASSERT_TRUE(runUntil([&] { return api.callsOf("getUpdates").size() > polls; }, 10));
        }

        DataFolder folder;
        FakeBotApi api;
        std::shared_ptr<MemorySecretStore> secrets;
        std::unique_ptr<Model> app;
        std::unique_ptr<OnboardingModel> flow;
    };

    // GIVEN a first run with no bot and no chat, WHEN the user goes through every step, THEN the area, the
    // token and the chat are stored, the bot gets its profile and the test alert reaches the chat.
    TEST_F(OnboardingTest, WholeFlowFromLanguageToTestAlert)
    {
        open(std::nullopt);
        EXPECT_EQ(flow->suggestedUsername(), "brisko_jose_bot");
        flow->chooseLanguage(AppLanguage::en);
        flow->next();
        flow->next();
        ASSERT_EQ(flow->step(), ObStep::camera);
        if (fs::exists(kStreetVideo)) {
            flow->requestCamera();
            EXPECT_EQ(flow->cameraStatus(), OnboardingModel::CameraStatus::authorized);
            EXPECT_EQ(app->mode(), Mode::preview);
        }
        flow->next();
        flow->setAreaPart(true);
        ASSERT_EQ(flow->draft(), ROI(0.2, 0.2, 0.6, 0.6));
        flow->next();
        EXPECT_FALSE(app->roi().isFull());
        flow->setDetectionMode(DetectionMode::motion);
        flow->next();
        ASSERT_EQ(flow->step(), ObStep::telegram);
        flow->next(); // no bot yet: stays
        EXPECT_EQ(flow->step(), ObStep::telegram);

        flow->setKeyText(std::string("Use this token to access the HTTP API:\n") + FakeBotApi::kToken);
        EXPECT_EQ(flow->keyState(), KeyState::checking);
        ASSERT_TRUE(runUntil([&] { return flow->keyState() == KeyState::ok; }, 10));
        EXPECT_EQ(flow->bot()->username, "brisko_test_bot");
        EXPECT_EQ(flow->keyText(), "");
        EXPECT_EQ(secrets->read(), FakeBotApi::kToken);

        flow->next();
        ASSERT_EQ(flow->step(), ObStep::confirm);
        ASSERT_EQ(flow->code().size(), 6u);
        EXPECT_EQ(flow->botLink(), "https://t.me/brisko_test_bot?start=" + flow->code());
        api.pushUpdate(startMessage(flow->code(), "group", -100));
        api.pushUpdate(startMessage(flow->code(), "private", 77));
        ASSERT_TRUE(runUntil([&] { return flow->candidate().has_value(); }, 10));
        EXPECT_EQ(flow->candidate()->label(), "Maria (@maria)");

        flow->confirmCandidate();
        ASSERT_TRUE(runUntil([&] { return flow->step() == ObStep::test; }, 10));
        EXPECT_TRUE(app->settings().chatConfirmed);
        EXPECT_EQ(app->settings().chatID, 77);
        ASSERT_TRUE(runUntil([&] { return !api.callsOf("setMyProfilePhoto").empty(); }, 10));
        EXPECT_EQ(api.callsOf("setMyName").at(0).fields.at("name"), "Brisko Alerts");

        flow->sendTest();
        ASSERT_TRUE(runUntil(
            [&] { return flow->testState().kind != OnboardingModel::TestState::Kind::sending; }, 20));
        EXPECT_EQ(flow->testState(),
            (OnboardingModel::TestState { OnboardingModel::TestState::Kind::sent, "Maria (@maria)" }));

        flow->next();
        std::vector<bool> finishedWith;
        flow->finished = [&](bool protect) { finishedWith.push_back(protect); };
        flow->finish(true);
        flow->finish(true);
        EXPECT_EQ(finishedWith, std::vector<bool> { true });
        EXPECT_NE(app->mode(), Mode::preview);
    }

    TEST_F(OnboardingTest, RefusedTokenAndStaleChecksAreNotShown)
    {
        open(FakeBotApi::kToken);
        flow->setKeyText("12345:" + std::string(29, 'x'));
        flow->checkKey();
        EXPECT_EQ(flow->keyState(), KeyState::bad);

        // The stored bot, still loading when the user chooses another one, does not come back.
        api.failNext(FakeBotApi::Fault::hold(), "getMe");
        flow->go(ObStep::telegram);
        ASSERT_TRUE(runUntil([&] { return api.waitForHeld(1, 0.01); }, 5));
        flow->useOtherBot();
        api.release();
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->bot(), std::nullopt);
        EXPECT_EQ(flow->keyState(), KeyState::empty);

        // Nor does the answer about a text the user has since cleared.
        api.failNext(FakeBotApi::Fault::hold(), "getMe");
        flow->setKeyText(kOtherBotsToken);
        ASSERT_TRUE(runUntil([&] { return api.waitForHeld(1, 0.01); }, 5));
        flow->useOtherBot();
        api.release();
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->keyState(), KeyState::empty);

        flow->setKeyText(kOtherBotsToken);
        ASSERT_TRUE(runUntil([&] { return flow->keyState() == KeyState::rejected; }, 10));
    }

    TEST_F(OnboardingTest, SameBotKeepsItsChatAnotherBotMustPairAgain)
    {
        for (const auto& [stored, confirmedAfter] :
            { std::pair { std::string(FakeBotApi::kToken), true }, std::pair { kOtherBotsToken, false } }) {
            open(stored, true);
            flow->setKeyText(FakeBotApi::kToken);
            ASSERT_TRUE(runUntil([&] { return flow->keyState() == KeyState::ok; }, 10));
            EXPECT_EQ(app->settings().chatConfirmed, confirmedAfter) << stored;
            EXPECT_EQ(flow->connectAnother(), !confirmedAfter);
            flow.reset();
            app.reset();
        }
    }

    TEST_F(OnboardingTest, LeftPairingReportsNothingLate)
    {
        open(FakeBotApi::kToken);
        pairingOpen();
        const std::string oldCode = flow->code();
        flow->go(ObStep::telegram);
        api.pushUpdate(startMessage(oldCode, "private", 77));
        ASSERT_TRUE(runUntil([&] { return api.callsOf("getUpdates").size() >= 1; }, 5));
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->candidate(), std::nullopt);
        app->log().flush();
        EXPECT_EQ(
            DataFolder::read(folder.paths.logs() / "app.log").find("código recebido"), std::string::npos);

        pairingOpen(); // a new code: the old message no longer pairs
        EXPECT_NE(flow->code(), oldCode);
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->candidate(), std::nullopt);
    }

    TEST_F(OnboardingTest, ClosingDuringALongPollDoesNotWait)
    {
        open(FakeBotApi::kToken);
        pairingOpen();
        flow->leave();
        const auto start = std::chrono::steady_clock::now();
        flow.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }

} // namespace
} // namespace vardel::test
