#include "AppHarness.h"
#include "L.h"
#include "Model.h"
#include "Outbox.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    struct Operation {
        std::string name;
        std::function<void(DataFolder&)> before;
        std::function<void(Model&)> act;
        std::function<void(const Model&, const DataFolder&)> expect;
    };

    void PrintTo(const Operation& operation, std::ostream* out) { *out << operation.name; }

    int itemsContaining(const DataFolder& folder, const std::string& text)
    {
        int count = 0;
        for (const auto& item : Outbox(folder.paths.outbox()).pending())
            count += DataFolder::read(item).find(text) != std::string::npos;
        return count;
    }

    // A settings file that cannot be replaced: a folder stands where the file goes.
    void blockSettingsFile(DataFolder& folder)
    {
        fs::remove(folder.paths.config());
        fs::create_directory(folder.paths.config());
        fs::create_directory(folder.paths.config() / "x");
    }

    // A settings file on a disk that stalls: every write waits until the test lets it through. The test
    // lets it through only after its calls have returned, so a write that waits out the whole stall held
    // the main thread with it.
    class StalledSettingsStore : public SettingsStore {
    public:
        using SettingsStore::SettingsStore;

        Settings update(const std::function<void(Settings&)>& change) override
        {
            {
                std::unique_lock lock(m_mutex);
                if (!m_released.wait_for(lock, std::chrono::seconds(2), [this] { return m_open; }))
                    heldTheMainThread = true;
            }
            return SettingsStore::update(change);
        }

        void release()
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
            m_released.notify_all();
        }

        std::atomic<bool> heldTheMainThread = false;

    private:
        std::mutex m_mutex;
        std::condition_variable m_released;
        bool m_open = false;
    };

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
        const Settings stored = SettingsStore(folder.paths.config()).load();
        EXPECT_EQ(stored.roi, area);
        EXPECT_EQ(stored.detectionMode, DetectionMode::motion);
        EXPECT_EQ(stored.language, AppLanguage::es);
        EXPECT_EQ(stored.camera, "Other camera");
        EXPECT_TRUE(stored.chatConfirmed);
        EXPECT_EQ(model.settings(), stored);
        L::setLanguage(AppLanguage::en);
    }

    class ModelOperation : public testing::TestWithParam<Operation> { };

    // Each operation, then an orderly shut-down; what the settings file and the outbox hold afterwards.
    TEST_P(ModelOperation, LeavesTheFilesAndNoticeAsTheUserExpects)
    {
        const Operation operation = GetParam();
        L::setLanguage(AppLanguage::en);
        DataFolder folder;
        folder.settings.chatConfirmed = false;
        folder.writeSettings(folder.settings);
        if (operation.before)
            operation.before(folder);
        {
            Model model(appOptions(folder, "http://127.0.0.1:9"));
            operation.act(model);
            bool done = false;
            model.shutdown([&] { done = true; });
            ASSERT_TRUE(runUntil([&] { return done; }, 15));
            operation.expect(model, folder);
        }
    }

    INSTANTIATE_TEST_SUITE_P(Model, ModelOperation,
        testing::Values(
            // The last of several quick changes is saved, rounded, even when the application quits before
            // the save was due.
            Operation { "sensitivitySavedAtQuit", {},
                [](Model& model) {
                    model.sensitivityChanged(3);
                    model.sensitivityChanged(7.5);
                },
                [](const Model&, const DataFolder& folder) {
                    EXPECT_EQ(SettingsStore(folder.paths.config()).load().sensitivity, 8);
                } },
            Operation { "areaTooNarrowIsRefused", {},
                [](Model& model) {
                    model.saveReferenceROI({ 0.1, 0.1, 0.02, 0.5 });
                },
                [](const Model& model, const DataFolder& folder) {
                    EXPECT_EQ(model.notice(), L::t(K::ntAreaInvalid));
                    EXPECT_EQ(SettingsStore(folder.paths.config()).load().roi, ROI::full());
                } },
            Operation { "chatConfirmedOnce", {},
                [](Model& model) { model.confirmChat(77, "Ana", [](bool stored) { EXPECT_TRUE(stored); }); },
                [](const Model& model, const DataFolder& folder) {
                    const Settings stored = SettingsStore(folder.paths.config()).load();
                    EXPECT_TRUE(stored.chatConfirmed);
                    EXPECT_EQ(stored.chatID, 77);
                    EXPECT_EQ(model.chatLabel(), "Ana");
                    EXPECT_EQ(itemsContaining(folder, "Connected to"), 1);
                } },
            // A confirmation that could not be stored is reported, and nothing is sent to the chat.
            Operation { "chatConfirmationNotStored", blockSettingsFile,
                [](Model& model) { model.confirmChat(77, "Ana", [](bool stored) { EXPECT_FALSE(stored); }); },
                [](const Model& model, const DataFolder& folder) {
                    EXPECT_FALSE(model.settings().chatConfirmed);
                    ASSERT_TRUE(model.notice());
                    EXPECT_EQ(model.notice()->rfind(L::t(K::ntSaveFailed, { "" }), 0), 0u) << *model.notice();
                    EXPECT_EQ(itemsContaining(folder, "Connected to"), 0);
                } },
            // A change the file could not take is reported and undone.
            Operation { "modeNotStoredIsUndone", blockSettingsFile,
                [](Model& model) {
                    model.setDetectionMode(DetectionMode::motion);
                    EXPECT_EQ(model.detectionMode(), DetectionMode::motion);
                },
                [](const Model& model, const DataFolder&) {
                    EXPECT_EQ(model.detectionMode(), DetectionMode::person);
                    ASSERT_TRUE(model.notice());
                    EXPECT_EQ(model.notice()->rfind(L::t(K::ntSaveFailed, { "" }), 0), 0u) << *model.notice();
                } },
            // Protection without a paired chat is refused with the reason, and protection is not wanted.
            Operation { "protectionWithoutChat", {},
                [](Model& model) {
                    model.toggleMonitoring();
                    EXPECT_FALSE(model.monitoringWanted());
                    EXPECT_EQ(model.mode(), Mode::off);
                    EXPECT_EQ(
                        model.phase(), Phase::failed(L::t(K::ntNotStarted, { L::t(K::blockNoTelegram) })));
                },
                [](const Model&, const DataFolder&) {} }),
        [](const testing::TestParamInfo<Operation>& param) { return param.param.name; });

} // namespace
} // namespace vardel::test
