#include "FirstRunWindow.h"

#include "AreaPicture.h"
#include "BotFatherDemo.h"
#include "L.h"
#include "QrView.h"
#include "TextFit.h"
#include "ViewHarness.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    using Kind = OnboardingModel::TestState::Kind;

    template <typename T = QPushButton> T* find(const QWidget* window, const char* name)
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const QWidget* window, const char* name)
    {
        auto* button = find<QAbstractButton>(window, name);
        ASSERT_TRUE(button && button->isVisible() && button->isEnabled()) << name;
        button->click();
    }

    // Deferred deletions run only when control returns to the loop that asked for them: run them here.
    bool released(const QPointer<FirstRunWindow>& window, const QPointer<OnboardingModel>& flow)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !window && !flow;
    }

    // Every step, with its optional parts open and text 1.5 times as large, shows its texts whole in each
    // language. BRISKO_DOCS_SCREENSHOTS=1 adds the default size and refreshes the README's pairing picture.
    TEST(FirstRunScreens, ShowEveryTextWhole)
    {
        static const char* steps[]
            = { "language", "intro", "camera", "area", "alerts", "telegram", "confirm", "test", "done" };
        FlowApp shared(FakeBotApi::kToken);
        const QFont normal = QApplication::font();
        const bool docs = qEnvironmentVariableIsSet("BRISKO_DOCS_SCREENSHOTS");
        for (const double scale : docs ? std::vector { 1.0, 1.5 } : std::vector { 1.5 }) {
            QFont font = normal;
            font.setPointSizeF(normal.pointSizeF() * scale);
            QApplication::setFont(font);
            for (const AppLanguage language : AppLanguage::allCases()) {
                shared.app->setLanguage(language);
                for (int index = 0; index <= static_cast<int>(ObStep::done); ++index) {
                    const auto step = static_cast<ObStep>(index);
                    const std::string name = std::string(steps[index]) + "_"
                        + std::string(language.rawValue()) + (scale > 1 ? "_large" : "");
                    SCOPED_TRACE(name);
                    FirstRunWindow window(*shared.app, shared.flowOptions());
                    OnboardingModel& flow = *window.flow();
                    window.show();
                    flow.go(step);
                    if (step == ObStep::intro)
                        click(&window, "obLearnMore");
                    if (step == ObStep::camera)
                        flow.requestCamera();
                    if (step == ObStep::area)
                        flow.setAreaPart(true);
                    if (step == ObStep::telegram) {
                        flow.useOtherBot();
                        click(&window, "obWatchVideo");
                        click(&window, "obNeedHelp");
                        mouse(find<BotFatherDemo>(&window, "botFatherDemo"), QEvent::MouseButtonPress, {});
                    }
                    if (step == ObStep::confirm)
                        ASSERT_TRUE(runUntil([&] { return flow.bot().has_value(); }, 10));
                    runUntil([] { return false; }, 0.01); // layouts settle

                    expectTextsWhole(window, "first-run/" + name);
                    if (docs && name == "confirm_en")
                        EXPECT_TRUE(window.grab().save(
                            VARDEL_TEST_DATA "/../../docs/screenshots/first-run-pairing.png"));
                }
            }
        }
        QApplication::setFont(normal);
    }

    // GIVEN no bot and no chat, WHEN the user clicks through and types the key, THEN the guide stores each
    // choice and the token, pairs the private chat that sends the code, brands the bot and sends the test.
    TEST(FirstRunFlow, ClickingThroughFromLanguageToDone)
    {
        FlowApp run(std::nullopt);
        int doneCalls = 0;
        QPointer<FirstRunWindow> window = FirstRunWindow::open(
            *run.app, [&] { ++doneCalls; }, run.flowOptions("José Álvares"));
        QPointer<OnboardingModel> flow = window->flow();
        EXPECT_EQ(flow->suggestedUsername(), "brisko_jose_bot");

        click(window, "language-es");
        EXPECT_EQ(run.app->language(), AppLanguage::es);
        EXPECT_EQ(find(window, "next")->text().toStdString(), L::t(K::next, AppLanguage::es));
        click(window, "next");
        EXPECT_EQ(find(window, "next")->text().toStdString(), L::t(K::obGetStarted, AppLanguage::es));
        click(window, "next");
        click(window, "obCamAllow");
        EXPECT_EQ(flow->cameraStatus(), OnboardingModel::CameraStatus::authorized);
        EXPECT_EQ(run.app->mode(), Mode::preview);
        click(window, "next");

        ASSERT_EQ(flow->step(), ObStep::area);
        click(window, "setAreaPart");
        EXPECT_EQ(flow->draft(), ROI(0.2, 0.2, 0.6, 0.6));
        auto* picture = find<AreaPicture>(window, "areaPicture");
        auto at = [&](double x, double y) {
            const QRectF frame = picture->pictureRect();
            return QPointF(frame.left() + x * frame.width(), frame.top() + y * frame.height()).toPoint();
        };
        mouse(picture, QEvent::MouseButtonPress, at(0.5, 0.6));
        mouse(picture, QEvent::MouseMove, at(0.3, 0.3));
        mouse(picture, QEvent::MouseButtonRelease, at(0.1, 0.2));
        ASSERT_TRUE(flow->draft());
        EXPECT_NEAR(flow->draft()->x, 0.1, 0.01);
        EXPECT_NEAR(flow->draft()->h, 0.4, 0.01);
        click(window, "next");
        EXPECT_FALSE(run.app->roi().isFull());

        click(window, "setMotion");
        EXPECT_EQ(run.app->detectionMode(), DetectionMode::motion);
        click(window, "next");

        ASSERT_EQ(flow->step(), ObStep::telegram);
        EXPECT_FALSE(find(window, "next")->isEnabled());
        flow->next(); // no bot yet: stays
        EXPECT_EQ(flow->step(), ObStep::telegram);
        click(window, "copyNewBot");
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("/newbot"));
        EXPECT_EQ(find(window, "copyNewBot")->text().toStdString(), L::t(K::obCopied, AppLanguage::es));
        QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(FakeBotApi::kToken));
        QCoreApplication::sendEvent(find<QLineEdit>(window, "key"), &typed);
        EXPECT_EQ(flow->keyState(), OnboardingModel::KeyState::checking);
        ASSERT_TRUE(runUntil([&] { return find(window, "next")->isEnabled(); }, 10));
        EXPECT_EQ(find<QLineEdit>(window, "key")->text(), QString());
        EXPECT_EQ(run.secrets->read(), FakeBotApi::kToken);
        click(window, "next");

        ASSERT_EQ(flow->step(), ObStep::confirm);
        auto* qr = window->findChild<QrView*>();
        ASSERT_TRUE(runUntil([&] { return qr->code().has_value(); }, 10));
        EXPECT_EQ(qr->text(), "https://t.me/brisko_test_bot?start=" + flow->code());
        run.api.pushUpdate(startMessage(flow->code(), -100, "group"));
        run.api.pushUpdate(startMessage(flow->code()));
        ASSERT_TRUE(runUntil([&] { return find(window, "obConfYes")->isVisible(); }, 10));
        EXPECT_EQ(flow->candidate()->label(), "Maria (@maria)");
        click(window, "obConfYes");
        ASSERT_TRUE(runUntil([&] { return flow->step() == ObStep::test; }, 10));
        EXPECT_TRUE(run.app->settings().chatConfirmed);
        EXPECT_EQ(run.app->settings().chatID, 77);
        ASSERT_TRUE(runUntil([&] { return !run.api.callsOf("setMyProfilePhoto").empty(); }, 10));
        EXPECT_EQ(run.api.callsOf("setMyName").at(0).fields.at("name"), "Brisko Alerts");

        click(window, "setSendTest");
        ASSERT_TRUE(runUntil([&] { return flow->testState().kind != Kind::sending; }, 20));
        EXPECT_EQ(flow->testState(), (OnboardingModel::TestState { Kind::sent, "Maria (@maria)" }));
        click(window, "obTestArrived");

        ASSERT_EQ(flow->step(), ObStep::done);
        click(window, "ctlStart");
        ASSERT_TRUE(runUntil([&] { return released(window, flow); }, 5));
        EXPECT_EQ(doneCalls, 1);
        EXPECT_TRUE(run.app->monitoringWanted());
    }

    TEST(FirstRunFlow, ClosingWhilePairingLeavesTheFlowWithoutFinishing)
    {
        FlowApp run(FakeBotApi::kToken);
        int doneCalls = 0;
        QPointer<FirstRunWindow> window = FirstRunWindow::open(
            *run.app, [&] { ++doneCalls; }, run.flowOptions());
        EXPECT_EQ(FirstRunWindow::open(*run.app), window); // a second request brings the same guide forward
        QPointer<OnboardingModel> flow = window->flow();
        flow->go(ObStep::camera);
        flow->requestCamera();
        flow->go(ObStep::confirm);
        ASSERT_TRUE(runUntil([&] { return !run.api.callsOf("getUpdates").empty(); }, 10));
        window->close();
        ASSERT_TRUE(runUntil([&] { return released(window, flow); }, 5));
        EXPECT_EQ(doneCalls, 0);
        EXPECT_FALSE(run.app->previewOn());
    }

} // namespace
} // namespace vardel::test
