#include "AppHarness.h"
#include "Brand.h"
#include "ChatCommands.h"
#include "FakeBotApi.h"
#include "L.h"
#include "OnboardingModel.h"
#include "PrivateBus.h"
#include "ResumeState.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;
    constexpr std::int64_t kChat = 4242; // the chat DataFolder pairs

    // Waits until the chat got a text that holds `part`.
    bool received(const FakeBotApi& api, const std::string& part, double seconds = 10)
    {
        const auto holds = [&](const std::string& text) { return text.find(part) != std::string::npos; };
        return runUntil([&] { return std::ranges::any_of(textsSent(api), holds); }, seconds);
    }

    void push(FakeBotApi& api, const std::string& text, std::int64_t chat = kChat)
    {
        api.pushUpdate(FakeBotApi::textMessage(chat, text));
    }

    class RemoteControl : public testing::Test {
    protected:
        void SetUp() override
        {
            if (!fs::exists(kStreetVideo))
                GTEST_SKIP() << "opencv-doc is not installed: " << kStreetVideo;
            L::setLanguage(AppLanguage::en);
        }
    };

    // GIVEN the command poller polling, WHEN another chat is paired meanwhile, THEN the two never poll at
    // once (no 409), and the paired chat's /arm, /status, /photo and /disarm then do what they say; the same
    // from another chat changes nothing.
    TEST_F(RemoteControl, PairingTakesTurnsWithThePollerWhichObeysOnlyThePairedChat)
    {
        DataFolder folder;
        FakeBotApi api;
        Model model(appOptions(folder, api.endpoint()));
        ASSERT_TRUE(runUntil([&] { return !api.callsOf("getUpdates").empty(); }, 10));
        {
            OnboardingModel onboarding(model, { api.endpoint(), nullptr, "Ana" });
            onboarding.startPairing();
            // A chat message ends the poller's open poll, so that pairing need not wait it out; the code goes
            // out only once pairing polls, so that it cannot be taken by the poller.
            push(api, "hello");
            ASSERT_TRUE(runUntil([&] { return api.callsOf("getUpdates").size() >= 2; }, 20));
            push(api, onboarding.code(), 777);
            ASSERT_TRUE(runUntil([&] { return onboarding.candidate().has_value(); }, 30));
            onboarding.leave();
        }

        push(api, "/arm");
        ASSERT_TRUE(runUntil([&] { return model.mode() == Mode::monitor; }, 20));
        push(api, "/disarm", kChat + 1);
        push(api, "/status");
        // The answer names the camera, which is named after its file.
        ASSERT_TRUE(received(api, kStreetVideo.stem().string())) << ::testing::PrintToString(textsSent(api));
        EXPECT_EQ(model.mode(), Mode::monitor);

        push(api, "/photo");
        ASSERT_TRUE(runUntil(
            [&] {
                return std::ranges::any_of(api.callsOf("sendPhoto"),
                    [](const auto& call) { return call.fields.at("caption").starts_with("Camera now"); });
            },
            10));

        push(api, "/disarm");
        ASSERT_TRUE(runUntil([&] { return model.mode() == Mode::off; }, 10));
        push(api, "/photo");
        EXPECT_TRUE(received(api, L::t(K::rcPhotoOff, { Brand::name })));
        push(api, "/help");
        EXPECT_TRUE(received(api, L::t(K::rcHelp, { Brand::name })));
        EXPECT_EQ(api.conflicts(), 0u);

        std::set<std::string> languages;
        for (const auto& call : api.callsOf("setMyCommands"))
            languages.insert(
                call.fields.contains("language_code") ? call.fields.at("language_code") : "default");
        EXPECT_EQ(languages, (std::set<std::string> { "default", "en", "pt", "es" }));
    }

    // GIVEN protection on over a covered lens, with logind and UPower on a private bus, WHEN the lens stays
    // covered, mains power goes, and the system sleeps and wakes, THEN the chat gets a text for each.
    TEST_F(RemoteControl, AlertsAboutTheComputerItself)
    {
        if (!PrivateBus::onPath("dbus-daemon") || !PrivateBus::onPath("ffmpeg")
            || std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
            GTEST_SKIP() << "needs dbus-daemon, ffmpeg and python3-dbusmock";
        // The mocks come up while ffmpeg writes the covered lens's video.
        PrivateBus bus;
        for (const char* mock : { "logind", "upower" })
            bus.start({ "/usr/bin/python3", "-m", "dbusmock", "--template", mock });
        DataFolder folder;
        const fs::path black = folder.root / "black.avi";
        const std::string ffmpeg
            = "ffmpeg -nostdin -v error -f lavfi -i color=black:s=320x240:r=10 -t 2 -c:v mpeg4 '"
            + black.string() + "'";
        ASSERT_EQ(std::system(ffmpeg.c_str()), 0);
        ASSERT_TRUE(bus.waitForName("org.freedesktop.login1") && bus.waitForName("org.freedesktop.UPower"));
        const auto system
            = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "self-alerts");
        const auto call = [&](const QString& service, const QString& path, const QString& interface,
                              const QString& method, const QVariantList& arguments) {
            auto message = QDBusMessage::createMethodCall(service, path, interface, method);
            message.setArguments(arguments);
            return system.call(message).type() == QDBusMessage::ReplyMessage;
        };
        FakeBotApi api;
        auto clock = std::make_shared<HurriedClock>();
        auto settings = appOptions(folder, api.endpoint(), black, clock);
        settings.systemBus = system;
        Model model(std::move(settings));
        model.toggleMonitoring();
        ASSERT_EQ(model.mode(), Mode::monitor);
        // Up to the first value after the brand.
        const auto alert = [&](K key) {
            const std::string text = L::t(key, { Brand::name, "\x01" });
            return received(api, text.substr(0, text.find('\x01')), 30);
        };

        // Power goes once the model has seen it on; the lens counts as covered long enough meanwhile.
        ASSERT_TRUE(runUntil([&] { return model.onAC().has_value() && !model.latestFrame().empty(); }, 10));
        clock->hurry(30, 3);
        ASSERT_TRUE(
            call("org.freedesktop.UPower", "/org/freedesktop/UPower", "org.freedesktop.DBus.Properties",
                "Set", { "org.freedesktop.UPower", "OnBattery", QVariant::fromValue(QDBusVariant(true)) }));
        EXPECT_TRUE(alert(K::tgCovered));
        EXPECT_TRUE(alert(K::tgOnBattery));
        // One after the other, so that a swapped meaning shows.
        for (auto [sleeping, key] : { std::pair { true, K::tgSleeping }, std::pair { false, K::tgAwake } }) {
            ASSERT_TRUE(call("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock",
                "EmitSignal",
                { "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                    QVariantList { QVariant::fromValue(QDBusVariant(sleeping)) } }));
            EXPECT_TRUE(alert(key));
        }
    }

    // GIVEN protection on, WHEN the run ends in one of several ways and the application starts again,
    // THEN protection comes back by itself, with one "offline from X to Y" text, unless the user ended it.
    TEST_F(RemoteControl, ProtectionComesBackAfterARestartUnlessTheUserEndedIt)
    {
        using Reason = Model::EndReason;
        // Name, disarmed first, how the run ends (none: the process just ends), protection comes back.
        const std::tuple<const char*, bool, std::optional<Reason>, bool> endings[]
            = { { "crash", false, std::nullopt, true }, { "system shutdown", false, Reason::system, true },
                  { "user quit", false, Reason::user, false },
                  { "disarmed, then system shutdown", true, Reason::system, false } };
        const auto isOffline
            = [](const std::string& text) { return text.find(" was offline from ") != std::string::npos; };
        for (const auto& [name, disarmFirst, shutdown, resumes] : endings) {
            SCOPED_TRACE(name);
            DataFolder folder;
            FakeBotApi api;
            {
                Model first(appOptions(folder, api.endpoint()));
                first.toggleMonitoring();
                ASSERT_EQ(first.mode(), Mode::monitor);
                if (disarmFirst)
                    first.toggleMonitoring();
                if (shutdown) {
                    bool done = false;
                    first.shutdown([&] { done = true; }, *shutdown);
                    ASSERT_TRUE(runUntil([&] { return done; }, 15));
                }
            }
            // The last sign of life was two hours ago (the machine was off since).
            const double now = SystemClock().now();
            const double aliveAt = now - 7200;
            if (ResumeState::load(ResumeState::fileIn(folder.paths.data())).protecting)
                ResumeState { true, aliveAt }.save(ResumeState::fileIn(folder.paths.data()));

            {
                Model second(appOptions(folder, api.endpoint()));
                EXPECT_EQ(second.mode() == Mode::monitor, resumes);
                EXPECT_TRUE(
                    !resumes || runUntil([&] { return std::ranges::any_of(textsSent(api), isOffline); }, 10));
            }
            // The model is gone, so whatever it enqueued is in the outbox by now, if not in the chat.
            std::vector<std::string> offline = textsSent(api);
            std::ranges::copy(folder.outboxItems(), std::back_inserter(offline));
            std::erase_if(offline, [&](const std::string& text) { return !isOffline(text); });
            ASSERT_EQ(offline.size(), resumes ? 1u : 0u);
            if (!resumes)
                continue;
            const auto [from, to] = ChatCommands::spanTimes(aliveAt, now);
            const auto [from2, to2]
                = ChatCommands::spanTimes(aliveAt, now + 60); // the minute may turn meanwhile
            EXPECT_TRUE(offline[0] == L::t(K::tgResumed, { Brand::name, from, to })
                || offline[0] == L::t(K::tgResumed, { Brand::name, from2, to2 }))
                << offline[0];
        }
    }

} // namespace
} // namespace vardel::test
