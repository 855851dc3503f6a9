#include "AppHarness.h"
#include "Brand.h"
#include "L.h"
#include "Model.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    int itemsContaining(const DataFolder& folder, const std::string& text)
    {
        return static_cast<int>(std::ranges::count_if(folder.outboxItems(),
            [&](const std::string& item) { return item.find(text) != std::string::npos; }));
    }

    // A settings file on a disk that stalls: every write waits until the test lets it through. The test
    // lets it through only after its calls have returned, so a write that waits out the whole stall held
    // the main thread with it.
    class StalledSettingsStore : public SettingsStore {
    public:
        using SettingsStore::SettingsStore;

        Settings update(const std::function<void(Settings&)>& change) override
        {
            if (m_open.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
                heldTheMainThread = true;
            return SettingsStore::update(change);
        }
        void release() { m_release.set_value(); }

        std::atomic<bool> heldTheMainThread = false;

    private:
        std::promise<void> m_release;
        std::shared_future<void> m_open = m_release.get_future().share();
    };

    void quit(Model& model)
    {
        bool done = false;
        model.shutdown([&] { done = true; });
        ASSERT_TRUE(runUntil([&] { return done; }, 15));
    }

    // Changes take effect at once while the disk catches up; a chat counts only once it is stored, and is
    // greeted once. Protection without a paired chat and a too narrow area are refused. The last of several
    // quick sensitivity changes is saved, rounded, although the application quits before the save was due.
    TEST(ModelSettingsWrites, TheProgramTakesChangesAtOnceWhileTheDiskCatchesUp)
    {
        L::setLanguage(AppLanguage::en);
        DataFolder folder(DetectionMode::person);
        folder.settings.chatConfirmed = false;
        folder.writeSettings(folder.settings);
        auto store = std::make_shared<StalledSettingsStore>(folder.paths.config());
        Model::Options options = appOptions(folder, "http://127.0.0.1:9");
        options.settingsStore = store;
        Model model(std::move(options));

        model.toggleMonitoring();
        EXPECT_FALSE(model.monitoringWanted());
        EXPECT_EQ(model.mode(), Mode::off);
        EXPECT_EQ(model.phase(), Phase::failed(L::t(K::ntNotStarted, { L::t(K::blockNoTelegram) })));
        model.saveReferenceROI({ 0.1, 0.1, 0.02, 0.5 });
        EXPECT_EQ(model.notice(), L::t(K::ntAreaInvalid));

        const ROI area { 0.1, 0.2, 0.5, 0.4 };
        std::optional<bool> confirmed;
        model.saveReferenceROI(area);
        model.setDetectionMode(DetectionMode::motion);
        model.setLanguage(AppLanguage::es);
        model.setCamera("Other camera");
        model.confirmChat(77, "Ana", [&](bool stored) { confirmed = stored; });
        EXPECT_EQ(model.roi(), area);
        EXPECT_EQ(model.detectionMode(), DetectionMode::motion);
        EXPECT_EQ(L::language(), AppLanguage::es);
        EXPECT_FALSE(confirmed) << "the chat counts only once it is stored";
        EXPECT_EQ(SettingsStore(folder.paths.config()).load().detectionMode, DetectionMode::person);

        store->release();
        ASSERT_TRUE(runUntil([&] { return confirmed.has_value(); }, 10));
        EXPECT_TRUE(*confirmed);
        EXPECT_FALSE(store->heldTheMainThread);
        Settings stored = SettingsStore(folder.paths.config()).load();
        EXPECT_EQ(stored.roi, area);
        EXPECT_EQ(stored.detectionMode, DetectionMode::motion);
        EXPECT_EQ(stored.language, AppLanguage::es);
        EXPECT_EQ(stored.camera, "Other camera");
        EXPECT_TRUE(stored.chatConfirmed);
        EXPECT_EQ(stored.chatID, 77);
        EXPECT_EQ(model.chatLabel(), "Ana");
        EXPECT_EQ(model.settings(), stored);

        model.sensitivityChanged(3);
        model.sensitivityChanged(7.5);
        quit(model);
        EXPECT_EQ(SettingsStore(folder.paths.config()).load().sensitivity, 8);
        EXPECT_EQ(itemsContaining(folder, L::t(K::tgPaired, { Brand::name })), 1);
        L::setLanguage(AppLanguage::en);
    }

    // A change the file could not take is reported and undone; a confirmation that could not be stored is
    // reported, and nothing is sent to the chat.
    TEST(ModelSettingsWrites, WhatTheFileRefusesIsReportedAndUndone)
    {
        L::setLanguage(AppLanguage::en);
        DataFolder folder;
        folder.settings.chatConfirmed = false;
        folder.writeSettings(folder.settings);
        Model model(appOptions(folder, "http://127.0.0.1:9"));
        // A folder where the settings file goes: it cannot be replaced.
        fs::remove(folder.paths.config());
        fs::create_directories(folder.paths.config() / "x");

        std::optional<bool> confirmed;
        model.setDetectionMode(DetectionMode::person);
        EXPECT_EQ(model.detectionMode(), DetectionMode::person);
        model.confirmChat(77, "Ana", [&](bool stored) { confirmed = stored; });
        ASSERT_TRUE(runUntil([&] { return confirmed.has_value(); }, 10));
        EXPECT_FALSE(*confirmed);
        EXPECT_EQ(model.detectionMode(), DetectionMode::motion);
        EXPECT_FALSE(model.settings().chatConfirmed);
        ASSERT_TRUE(model.notice());
        EXPECT_EQ(model.notice()->rfind(L::t(K::ntSaveFailed, { "" }), 0), 0u) << *model.notice();
        quit(model);
        EXPECT_EQ(itemsContaining(folder, L::t(K::tgPaired, { Brand::name })), 0);
    }

} // namespace
} // namespace vardel::test
