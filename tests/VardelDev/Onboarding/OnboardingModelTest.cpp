#include "Log.h"
#include "ViewHarness.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vardel::test {
namespace {

    using KeyState = OnboardingModel::KeyState;

    const std::string kOtherBotsToken = "999999:" + std::string(35, 'o');

    // Enters the confirm step and waits until the pairing loop's first long poll is open.
    void pairingOpen(const FakeBotApi& api, OnboardingModel& flow)
    {
        const auto polls = api.callsOf("getUpdates").size();
        flow.go(ObStep::confirm);
        ASSERT_TRUE(runUntil([&] { return api.callsOf("getUpdates").size() > polls; }, 10));
    }

    TEST(OnboardingModel, RefusedTokenAndStaleChecksAreNotShown)
    {
        FlowApp run(FakeBotApi::kToken);
        OnboardingModel flow(*run.app, run.flowOptions());
        flow.setKeyText("12345:" + std::string(29, 'x'));
        flow.checkKey();
        EXPECT_EQ(flow.keyState(), KeyState::bad);

        // Neither a stored bot still loading when another is chosen nor a cleared text's check comes back.
        for (const auto& check : std::vector<std::function<void()>> {
                 [&] { flow.go(ObStep::telegram); }, [&] { flow.setKeyText(kOtherBotsToken); } }) {
            run.api.failNext(FakeBotApi::Fault::hold(), "getMe");
            check();
            ASSERT_TRUE(runUntil([&] { return run.api.waitForHeld(1, 0.01); }, 5));
            flow.useOtherBot();
            run.api.release();
            runUntil([] { return false; }, 0.5);
            EXPECT_EQ(flow.bot(), std::nullopt);
            EXPECT_EQ(flow.keyState(), KeyState::empty);
        }

        flow.setKeyText(kOtherBotsToken);
        ASSERT_TRUE(runUntil([&] { return flow.keyState() == KeyState::rejected; }, 10));
    }

    TEST(OnboardingModel, SameBotKeepsItsChatAnotherBotMustPairAgain)
    {
        for (const auto& [stored, confirmedAfter] :
            { std::pair { std::string(FakeBotApi::kToken), true }, std::pair { kOtherBotsToken, false } }) {
            FlowApp run(stored, true);
            OnboardingModel flow(*run.app, run.flowOptions());
            flow.setKeyText(FakeBotApi::kToken);
            ASSERT_TRUE(runUntil([&] { return flow.keyState() == KeyState::ok; }, 10));
            EXPECT_EQ(run.app->settings().chatConfirmed, confirmedAfter) << stored;
            EXPECT_EQ(flow.connectAnother(), !confirmedAfter);
        }
    }

    // Pairing left drops what its long poll still brings; a flow finished (once) mid-poll goes at once.
    TEST(OnboardingModel, LeftPairingReportsNothingLateAndClosesAtOnce)
    {
        FlowApp run(FakeBotApi::kToken);
        auto flow = std::make_unique<OnboardingModel>(*run.app, run.flowOptions());
        pairingOpen(run.api, *flow);
        const std::string oldCode = flow->code();
        flow->go(ObStep::telegram);
        run.api.pushUpdate(startMessage(oldCode));
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->candidate(), std::nullopt);
        run.app->log().flush();
        EXPECT_EQ(DataFolder::read(run.view.folder.paths.logs() / "app.log").find("código recebido"),
            std::string::npos);

        pairingOpen(run.api, *flow); // a new code: the old message no longer pairs
        EXPECT_NE(flow->code(), oldCode);
        runUntil([] { return false; }, 0.5);
        EXPECT_EQ(flow->candidate(), std::nullopt);

        std::vector<bool> finishedWith;
        flow->finished = [&](bool protect) { finishedWith.push_back(protect); };
        flow->finish(false);
        flow->finish(false);
        EXPECT_EQ(finishedWith, std::vector<bool> { false });
        const auto start = std::chrono::steady_clock::now();
        flow.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }

} // namespace
} // namespace vardel::test
