#include "SettingsWindow.h"
#include "AppHarness.h"
#include "FakeBotApi.h"
#include "FileCameraSource.h"
#include "L.h"
#include "MemorySecretStore.h"
#include "Model.h"
#include "SettingsStore.h"
#include "TextFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
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
        Screen()
        {
            L::setLanguage(AppLanguage::en);
            Model::Options options;
            options.paths = folder.paths;
            options.camera = std::make_unique<FileCameraSource>(kStreetVideo.string());
            options.secrets = std::make_shared<MemorySecretStore>(FakeBotApi::kToken);
            options.endpoint = api.endpoint();
            model = std::make_unique<Model>(std::move(options));
            window = std::make_unique<SettingsWindow>(
                *model, nullptr, Autostart(entry(), "/opt/Brisko Test/brisko"));
        }
        ~Screen()
        {
            window.reset();
            bool done = false;
            model->shutdown([&] { done = true; });
            EXPECT_TRUE(runUntil([&] { return done; }, 15));
        }
        fs::path entry() const { return folder.root / "autostart" / "app.brisko.Brisko.desktop"; }
        Settings stored() const { return SettingsStore(folder.paths.config()).load(); }
        template <typename T> T* find(const char* name) const { return window->findChild<T*>(name); }

        DataFolder folder;
        FakeBotApi api;
        std::unique_ptr<Model> model;
        std::unique_ptr<SettingsWindow> window;
    };

    struct Look {
        AppLanguage language;
        double scale;
    };

    std::string lookName(const testing::TestParamInfo<Look>& info)
    {
        std::string name(info.param.language.rawValue());
        std::replace(name.begin(), name.end(), '-', '_');
        return name + "_" + std::to_string(static_cast<int>(info.param.scale * 100)) + "pct";
    }

    void PrintTo(const Look& look, std::ostream* out) { *out << lookName({ look, 0 }); }

    class SettingsLook : public testing::TestWithParam<Look> { };

    // Every text shows whole, in the language chosen in the window, at the default and a larger text size;
    // the pictures are kept for review.
    TEST_P(SettingsLook, ShowsEveryTextWholeInTheChosenLanguage)
    {
        const Look look = GetParam();
        Screen screen;
        screen.model->setLanguage(look.language);
        screen.model->setNotice(L::t(K::ntSaveFailed, look.language, { "No space left on device" }));
        QFont font = screen.window->font();
        font.setPointSizeF(font.pointSizeF() * look.scale);
        screen.window->setFont(font);
        screen.window->show();
        runUntil([] { return false; }, 0.1);

        EXPECT_EQ(screen.window->windowTitle(), qt(K::setTitle, look.language));
        EXPECT_EQ(screen.find<QCheckBox>("startAtLogin")->text(), qt(K::setStartAtLogin, look.language));
        EXPECT_THAT(clippedTexts(*screen.window), testing::IsEmpty());

        // Kept in "screenshots/" in the working folder (the build's test folder under CTest).
        QDir().mkpath("screenshots");
        const QString name = QString::fromStdString("screenshots/settings-" + lookName({ look, 0 }) + ".png");
        EXPECT_TRUE(screen.window->grab().save(name));
    }

    INSTANTIATE_TEST_SUITE_P(Settings, SettingsLook,
        testing::Values(Look { AppLanguage::en, 1.0 }, Look { AppLanguage::ptBR, 1.0 },
            Look { AppLanguage::es, 1.0 }, Look { AppLanguage::en, 1.5 }, Look { AppLanguage::ptBR, 1.5 },
            Look { AppLanguage::es, 1.5 }),
        lookName);

    // The user's changes reach the model and the settings file; the start-at-login switch writes and
    // removes the entry and, when it cannot, says so and stays off; the Telegram test shows its progress
    // and its result.
    TEST(SettingsWindow, ChangesReachTheModelTheSettingsFileAndTheLoginEntry)
    {
        Screen screen;
        screen.window->show();
        EXPECT_FALSE(screen.find<QPushButton>("wholeArea")->isEnabled());

        screen.find<QRadioButton>("motion")->click();
        EXPECT_EQ(screen.stored().detectionMode, DetectionMode::motion);
        screen.find<QRadioButton>("low")->click();
        EXPECT_TRUE(runUntil([&] { return screen.stored().sensitivity == 4; }, 5));

        emit screen.find<QComboBox>("language")->activated(2);
        EXPECT_EQ(screen.stored().language, AppLanguage::es);
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
