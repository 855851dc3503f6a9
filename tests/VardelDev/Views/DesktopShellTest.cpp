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

    struct QuitCase {
        std::string name;
        bool protecting, answer;
        int asked;
        bool quits;
    };

    class Quitting : public testing::TestWithParam<QuitCase> { };

    // GIVEN protection on or off WHEN the user quits THEN the confirmation is asked only while protecting,
    // and the application ends (after the model's shut-down) unless the user cancelled.
    TEST_P(Quitting, AsksOnlyWhileProtectingAndQuitsAfterShutDown)
    {
        const QuitCase& c = GetParam();
        ViewModel view;
        Shell shell(view);
        shell.answer = c.answer;
        if (c.protecting)
            view.model.toggleMonitoring();
        shell.shell.quit();
        EXPECT_EQ(shell.asked, c.asked);
        EXPECT_EQ(runUntil([&] { return shell.finished > 0; }, c.quits ? 20 : 0.5), c.quits);
        EXPECT_EQ(view.model.mode(), c.protecting && !c.quits ? Mode::monitor : Mode::off);
        shell.shell.quit(); // nothing more while shutting down
        EXPECT_EQ(shell.finished, c.quits ? 1 : 0);
    }

    INSTANTIATE_TEST_SUITE_P(Cases, Quitting,
        testing::Values(QuitCase { "Unprotected", false, false, 0, true },
            QuitCase { "ProtectingConfirmed", true, true, 1, true },
            QuitCase { "ProtectingCancelled", true, false, 1, false }),
        [](const auto& tested) { return tested.param.name; });

    class ClosingWhileProtecting : public testing::TestWithParam<bool> { };

    // GIVEN protection on WHEN the main window is closed twice THEN protection goes on, the explanation is
    // shown once, the window is hidden (with a tray, which brings it back) or minimised (without one).
    TEST_P(ClosingWhileProtecting, KeepsProtectingAndTheWindowCanComeBack)
    {
        const bool tray = GetParam();
        L::setLanguage(AppLanguage::en);
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
        EXPECT_EQ(shell.explained, std::vector { L::t(tray ? K::alKeepsBody : K::alKeepsBodyNoTray, { "Brisko" }) });
        emit shell.shell.tray().activated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(window.isVisible() && !window.isMinimized());
    }

    INSTANTIATE_TEST_SUITE_P(Cases, ClosingWhileProtecting, testing::Bool(),
        [](const auto& tested) { return tested.param ? "WithTray" : "WithoutTray"; });

    // A keyring that answers only when the test lets it.
    class HeldSecretStore final : public SecretStore {
    public:
        std::optional<std::string> read() override { return held.get(); }
        void write(const std::string&) override { }
        std::promise<std::optional<std::string>> answer;
        std::shared_future<std::optional<std::string>> held = answer.get_future().share();
    };

    struct StartCase {
        std::string name;
        bool paired;
        std::optional<std::string> token;
        bool onboarding;
    };

    class Starting : public testing::TestWithParam<StartCase> { };

    // GIVEN a keyring that keeps the token read waiting WHEN the shell starts THEN it returns at once and
    // shows the main window only with a paired chat and a token, the first-run window otherwise.
    TEST_P(Starting, ChoosesTheWindowWithoutWaitingForTheKeyring)
    {
        const StartCase& c = GetParam();
        auto keyring = std::make_shared<HeldSecretStore>();
        ViewModel view(keyring);
        if (!c.paired)
            view.model.requireChatConfirmation();
        int flows = 0;
        Shell shell(view, true, [&flows](Model&, std::function<void(bool)>) { return ++flows, new QWidget; });
        shell.shell.start();
        EXPECT_FALSE(shell.shell.window().isVisible());
        keyring->answer.set_value(c.token);
        EXPECT_TRUE(runUntil([&] { return shell.shell.window().isVisible() || flows > 0; }, 5));
        EXPECT_EQ(flows, c.onboarding ? 1 : 0);
        EXPECT_EQ(shell.shell.window().isVisible(), !c.onboarding);
    }

    INSTANTIATE_TEST_SUITE_P(Cases, Starting,
        testing::Values(StartCase { "PairedWithToken", true, "1:token", false },
            StartCase { "PairedWithoutToken", true, std::nullopt, true },
            StartCase { "NotPaired", false, "1:token", true }),
        [](const auto& tested) { return tested.param.name; });

} // namespace
} // namespace vardel::test
