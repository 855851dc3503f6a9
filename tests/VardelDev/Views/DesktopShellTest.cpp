#include "DesktopShell.h"
#include "L.h"
#include "MainWindow.h"
#include "ViewHarness.h"

#include <gtest/gtest.h>

#include <future>

namespace vardel::test {
namespace {

    // The shell with its dialogs replaced by counters: `answer` is what the quit confirmation replies.
    struct Shell {
        explicit Shell(ViewModel& view, bool tray = true, DesktopShell::OnboardingFactory flow = {})
            : shell(view.model,
                { view.defaults, nullptr, std::move(flow), {}, [this] { return ++asked, answer; },
                    [this](const QString&, const QString& text) { explained.push_back(text.toStdString()); },
                    [tray] { return tray; }, [this] { ++finished; } })
        {
        }

        bool answer = false;
        int asked = 0;
        int finished = 0;
        std::vector<std::string> explained;
        DesktopShell shell;
    };

    // GIVEN protection on or off WHEN the user quits THEN the confirmation is asked only while protecting,
    // and the application ends (after the model's shut-down) unless the user cancelled.
    TEST(DesktopShell, QuitAsksOnlyWhileProtectingAndQuitsAfterShutDown)
    {
        for (const auto& [protecting, answer, asked, quits] :
            { std::tuple { false, false, 0, true }, { true, true, 1, true }, { true, false, 1, false } }) {
            SCOPED_TRACE(testing::Message() << "protecting " << protecting << ", answer " << answer);
            ViewModel view;
            Shell shell(view);
            shell.answer = answer;
            if (protecting)
                view.model.toggleMonitoring();
            shell.shell.quit();
            EXPECT_EQ(shell.asked, asked);
            EXPECT_EQ(runUntil([&] { return shell.finished > 0; }, quits ? 20 : 0.5), quits);
            EXPECT_EQ(view.model.mode(), protecting && !quits ? Mode::monitor : Mode::off);
            shell.shell.quit(); // nothing more while shutting down
            EXPECT_EQ(shell.finished, quits ? 1 : 0);
        }
    }

    // GIVEN protection on WHEN the main window is closed twice THEN protection goes on, the explanation is
    // shown once, the window is hidden (with a tray, which brings it back) or minimised (without one).
    TEST(DesktopShell, ClosingWhileProtectingKeepsProtectingAndTheWindowCanComeBack)
    {
        L::setLanguage(AppLanguage::en);
        for (const bool tray : { true, false }) {
            SCOPED_TRACE(tray ? "with a tray" : "without a tray");
            ViewModel view;
            Shell shell(view, tray);
            MainWindow& window = shell.shell.window();
            view.model.toggleMonitoring();
            view.model.togglePreview();
            for (int close = 0; close < 2; ++close) {
                shell.shell.showWindow();
                window.close();
                EXPECT_EQ(window.isVisible(), !tray);
                EXPECT_EQ(window.isMinimized(), !tray);
            }
            EXPECT_EQ(view.model.mode(), Mode::monitor);
            EXPECT_FALSE(view.model.previewOn());
            EXPECT_EQ(shell.finished, 0);
            EXPECT_EQ(shell.explained,
                std::vector { L::t(tray ? K::alKeepsBody : K::alKeepsBodyNoTray, { "Brisko" }) });
            emit shell.shell.tray().activated(QSystemTrayIcon::Trigger);
            EXPECT_TRUE(window.isVisible() && !window.isMinimized());
        }
    }

    // A keyring that answers only when the test lets it.
    struct HeldSecretStore final : SecretStore {
        std::optional<std::string> read() override { return held.get(); }
        void write(const std::string&) override { }
        std::promise<std::optional<std::string>> answer;
        std::shared_future<std::optional<std::string>> held = answer.get_future().share();
    };

    // GIVEN a keyring that keeps the token read waiting WHEN the shell starts THEN it returns at once and
    // shows the main window only with a paired chat and a token, the first-run window otherwise.
    TEST(DesktopShell, StartChoosesTheWindowWithoutWaitingForTheKeyring)
    {
        for (const auto& [paired, token, onboarding] :
            { std::tuple<bool, std::optional<std::string>, bool> { true, "1:token", false },
                { true, std::nullopt, true }, { false, "1:token", true } }) {
            SCOPED_TRACE(testing::Message() << "paired " << paired << ", token " << token.has_value());
            auto keyring = std::make_shared<HeldSecretStore>();
            ViewModel view(keyring);
            if (!paired)
                view.model.requireChatConfirmation();
            int flows = 0;
            Shell shell(
                view, true, [&flows](Model&, std::function<void(bool)>) { return ++flows, new QWidget; });
            shell.shell.start();
            EXPECT_FALSE(shell.shell.window().isVisible());
            keyring->answer.set_value(token);
            EXPECT_TRUE(runUntil([&] { return shell.shell.window().isVisible() || flows > 0; }, 5));
            EXPECT_EQ(flows, onboarding ? 1 : 0);
            EXPECT_EQ(shell.shell.window().isVisible(), !onboarding);
        }
    }

} // namespace
} // namespace vardel::test
