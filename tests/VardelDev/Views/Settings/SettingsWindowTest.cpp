#include "SettingsWindow.h"
#include "FakeBotApi.h"
#include "L.h"
#include "SettingsStore.h"
#include "TextFit.h"
#include "ViewHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    QString qt(K key, AppLanguage language, std::initializer_list<std::string_view> args = {})
    {
        return QString::fromStdString(L::t(key, language, args));
    }

    // The settings window over a model with a paired chat, the fake Bot API and the street video as its
    // camera; the start-at-login entry goes into the test's folder.
    struct Screen {
        fs::path entry() const { return view.folder.root / "autostart" / "app.brisko.Brisko.desktop"; }
        Settings stored() const { return SettingsStore(view.folder.paths.config()).load(); }
        template <typename T> T* find(const char* name) const { return window->findChild<T*>(name); }

        FakeBotApi api;
        ViewModel view { std::make_shared<MemorySecretStore>(FakeBotApi::kToken), kStreetVideo,
            api.endpoint() };
        std::unique_ptr<SettingsWindow> window = std::make_unique<SettingsWindow>(
            view.model, nullptr, Autostart(entry(), "/opt/Brisko Test/brisko"));
    };

    // Every text shows whole, in the language chosen in the window, at the default and a larger text size;
    // the pictures are kept for review.
    TEST(SettingsWindow, ShowsEveryTextWholeInTheChosenLanguage)
    {
        Screen screen;
        for (const double scale : { 1.0, 1.5 }) {
            for (const AppLanguage language : AppLanguage::allCases()) {
                const std::string name
                    = std::string(language.rawValue()) + "_" + std::to_string(int(scale * 100));
                SCOPED_TRACE(name);
                screen.view.model.setLanguage(language);
                screen.view.model.setNotice(L::t(K::ntSaveFailed, language, { "No space left on device" }));
                screen.window = std::make_unique<SettingsWindow>(
                    screen.view.model, nullptr, Autostart(screen.entry(), ""));
                QFont font = screen.window->font();
                font.setPointSizeF(font.pointSizeF() * scale);
                screen.window->setFont(font);
                screen.window->show();
                runUntil([] { return false; }, 0.01);

                EXPECT_EQ(screen.window->windowTitle(), qt(K::setTitle, language));
                EXPECT_EQ(screen.find<QCheckBox>("startAtLogin")->text(), qt(K::setStartAtLogin, language));
                expectTextsWhole(*screen.window, "settings-" + name);
            }
        }
    }

    // The user's changes reach the model and the settings file; the start-at-login switch writes and
    // removes the entry and, when it cannot, says so and stays off; the Telegram test shows its progress
    // and its result.
    TEST(SettingsWindow, ChangesReachTheModelTheSettingsFileAndTheLoginEntry)
    {
        L::setLanguage(AppLanguage::en);
        Screen screen;
        screen.window->show();
        EXPECT_FALSE(screen.find<QPushButton>("wholeArea")->isEnabled());

        screen.find<QRadioButton>("motion")->click();
        EXPECT_TRUE(runUntil([&] { return screen.stored().detectionMode == DetectionMode::motion; }, 5));
        screen.find<QRadioButton>("low")->click();
        EXPECT_TRUE(runUntil([&] { return screen.stored().sensitivity == 4; }, 5));

        emit screen.find<QComboBox>("language")->activated(2);
        EXPECT_TRUE(runUntil([&] { return screen.stored().language == AppLanguage::es; }, 5));
        EXPECT_EQ(screen.find<QPushButton>("sendTest")->text(), qt(K::setSendTest, AppLanguage::es));

        auto* startAtLogin = screen.find<QCheckBox>("startAtLogin");
        EXPECT_FALSE(startAtLogin->isChecked());
        startAtLogin->click();
        EXPECT_THAT(
            DataFolder::read(screen.entry()), testing::HasSubstr("\nExec=\"/opt/Brisko Test/brisko\"\n"));
        startAtLogin->click();
        EXPECT_FALSE(fs::exists(screen.entry()));
        fs::remove_all(screen.entry().parent_path());
        std::ofstream(screen.entry().parent_path()) << "not a folder";
        startAtLogin->click();
        EXPECT_FALSE(startAtLogin->isChecked());
        EXPECT_TRUE(screen.find<QLabel>("problem")->isVisibleTo(screen.window.get()));

        auto* sendTest = screen.find<QPushButton>("sendTest");
        auto* result = screen.find<QLabel>("testResult");
        sendTest->click();
        EXPECT_FALSE(sendTest->isEnabled());
        EXPECT_EQ(sendTest->text(), qt(K::setSending, AppLanguage::es));
        ASSERT_TRUE(runUntil([&] { return sendTest->isEnabled(); }, 10));
        EXPECT_TRUE(result->isVisibleTo(screen.window.get()));
        EXPECT_EQ(result->text(), qt(K::testOK, AppLanguage::es, { "Home" }));
    }

} // namespace
} // namespace vardel::test
