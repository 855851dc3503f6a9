#include "SettingsWindow.h"
#include "L.h"
#include "SettingsStore.h"
#include "TextFit.h"
#include "ViewHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <fstream>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    QString qt(K key, AppLanguage language, std::initializer_list<std::string_view> args = {})
    {
        return QString::fromStdString(L::t(key, language, args));
    }

    // The start-at-login switch says so when it cannot write the entry, and stays off. Every text shows
    // whole in each language chosen in the window, at the default and a larger text size.
    TEST(SettingsWindow, ChangesReachTheModelAndTheFilesAndEveryTextShowsWhole)
    {
        L::setLanguage(AppLanguage::en);
        FakeBotApi api;
        ViewModel view(std::make_shared<MemorySecretStore>(FakeBotApi::kToken), kStreetVideo, api.endpoint());
        const fs::path entry = view.folder.root / "autostart" / "app.brisko.Brisko.desktop";
        auto stored = [&] { return SettingsStore(view.folder.paths.config()).load(); };
        auto window = std::make_unique<SettingsWindow>(
            view.model, nullptr, Autostart(entry, "/opt/Brisko Test/brisko"));
        window->show();
        EXPECT_FALSE(window->findChild<QPushButton*>("wholeArea")->isEnabled());

        window->findChild<QRadioButton*>("motion")->click();
        EXPECT_TRUE(runUntil([&] { return stored().detectionMode == DetectionMode::motion; }, 5));
        window->findChild<QRadioButton*>("low")->click();
        EXPECT_TRUE(runUntil([&] { return stored().sensitivity == 4; }, 5));

        emit window->findChild<QComboBox*>("language")->activated(2);
        EXPECT_TRUE(runUntil([&] { return stored().language == AppLanguage::es; }, 5));
        EXPECT_EQ(window->findChild<QPushButton*>("sendTest")->text(), qt(K::setSendTest, AppLanguage::es));

        auto* startAtLogin = window->findChild<QCheckBox*>("startAtLogin");
        EXPECT_FALSE(startAtLogin->isChecked());
        startAtLogin->click();
        EXPECT_NE(DataFolder::read(entry).find("\nExec=\"/opt/Brisko Test/brisko\"\n"), std::string::npos);
        startAtLogin->click();
        EXPECT_FALSE(fs::exists(entry));
        fs::remove_all(entry.parent_path());
        std::ofstream(entry.parent_path()) << "not a folder";
        startAtLogin->click();
        EXPECT_FALSE(startAtLogin->isChecked());
        EXPECT_TRUE(window->findChild<QLabel*>("problem")->isVisibleTo(window.get()));

        auto* sendTest = window->findChild<QPushButton*>("sendTest");
        auto* result = window->findChild<QLabel*>("testResult");
        sendTest->click();
        EXPECT_FALSE(sendTest->isEnabled());
        EXPECT_EQ(sendTest->text(), qt(K::setSending, AppLanguage::es));
        ASSERT_TRUE(runUntil([&] { return sendTest->isEnabled(); }, 10));
        EXPECT_TRUE(result->isVisibleTo(window.get()));
        EXPECT_EQ(result->text(), qt(K::testOK, AppLanguage::es, { "Home" }));

        for (const double scale : { 1.0, 1.5 }) {
            for (const AppLanguage language : AppLanguage::allCases()) {
                const std::string name
                    = std::string(language.rawValue()) + "_" + std::to_string(int(scale * 100));
                SCOPED_TRACE(name);
                view.model.setLanguage(language);
                view.model.setNotice(L::t(K::ntSaveFailed, language, { "No space left on device" }));
                window = std::make_unique<SettingsWindow>(view.model, nullptr, Autostart(entry, ""));
                QFont font = window->font();
                font.setPointSizeF(font.pointSizeF() * scale);
                window->setFont(font);
                window->show();
                runUntil([] { return false; }, 0.01);

                EXPECT_EQ(window->windowTitle(), qt(K::setTitle, language));
                EXPECT_EQ(
                    window->findChild<QCheckBox*>("startAtLogin")->text(), qt(K::setStartAtLogin, language));
                expectTextsWhole(*window, "settings-" + name);
            }
        }
    }

} // namespace
} // namespace vardel::test
