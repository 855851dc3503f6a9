#include "SettingsStore.h"

#include "OutboxFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

class SettingsStoreTest : public testing::Test {
protected:
    fs::path file() const { return m_folder / "config.json"; }
    void put(const std::string& bytes) const { test::OutboxFolder::write(file(), bytes); }
    std::string contents() const { return test::OutboxFolder::read(file()); }

    test::OutboxFolder m_data;
    fs::path m_folder = m_data.root();
    SettingsStore m_store { file() };
};

TEST_F(SettingsStoreTest, ABadFileLoadsDefaultsAndIsReplacedByTheNextUpdate)
{
    const std::pair<const char*, std::string> files[]
        = { { "empty", "" }, { "garbage", std::string("\0\xff{\x9c\x01\"", 6) },
              // Valid JSON, but far too large to be a settings file.
              { "ten megabytes", "{\"sensitivity\":" + std::string(10'000'000, ' ') + "8}" },
              { "deeply nested", std::string(200'000, '[') + std::string(200'000, ']') },
              { "wrong type", R"({"camera": "Webcam", "sensitivity": "high", "cooldown_s": 5})" },
              { "out of range", R"({"camera": "Webcam", "pre_s": -2147483649})" },
              { "not an object", R"(["camera", "Webcam"])" } };
    Settings expected;
    expected.camera = "Webcam";
    for (const auto& [name, bytes] : files) {
        put(bytes);
        EXPECT_EQ(m_store.load(), Settings()) << name;
        EXPECT_EQ(m_store.update([](Settings& s) { s.camera = "Webcam"; }), expected) << name;
        EXPECT_EQ(m_store.load(), expected) << name;
    }
}

TEST_F(SettingsStoreTest, UpdateKeepsHandEditedValuesInAPrivateFileAndAFailedOneChangesNothing)
{
    EXPECT_EQ(m_store.load(), Settings());
    EXPECT_FALSE(fs::exists(file()));
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_EQ(m_store.load(), Settings()); // and does not block
    fs::remove(file());

    put(R"({"trigger_frames": 7, "detection_mode": "radar", "language": "fr"})");
    fs::permissions(file(), fs::perms::all);
    const Settings written = m_store.update([](Settings& s) { s.language = AppLanguage::es; });
    EXPECT_EQ(written.triggerFrames, 7);
    EXPECT_EQ(written.detectionMode, DetectionMode::person);
    EXPECT_EQ(contents(), written.encode());
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    put("{\"sensitivity\": 9}");
    EXPECT_THROW(m_store.update([](Settings&) { throw std::runtime_error("no"); }), std::runtime_error);
    // A regular file where the folder should be: no permission trick, so it holds for root as well.
    for (const fs::path& path : { m_folder / "absent" / "config.json", file() / "config.json" })
        EXPECT_THROW(SettingsStore(path).update([](Settings& s) { s.sensitivity = 4; }), std::system_error);
    EXPECT_FALSE(fs::exists(m_folder / "absent"));
    EXPECT_EQ(contents(), "{\"sensitivity\": 9}");
}

TEST_F(SettingsStoreTest, UpdatesFromManyThreadsAreNotLostAndLoadsSeeWholeFiles)
{
    std::atomic<bool> done { false };
    std::atomic<int> torn { 0 };
    m_store.update([](Settings& s) { s.cooldown = 0; });
    std::thread reader([&] {
        while (!done) {
            // A partly written file would load as the defaults, whose camera is empty.
            const Settings seen = m_store.load();
            torn += seen.camera != std::string(static_cast<std::size_t>(seen.cooldown) * 50, 'c');
        }
    });
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([this] {
                for (int i = 0; i < 10; ++i)
                    m_store.update([](Settings& s) {
                        s.camera.assign(static_cast<std::size_t>(++s.cooldown) * 50, 'c');
                    });
            });
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(m_store.load().cooldown, 40);
}

} // namespace
