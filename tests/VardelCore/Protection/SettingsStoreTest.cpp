#include "SettingsStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

class SettingsStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("vardel-settings-" + std::to_string(::getpid()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path file() const { return m_folder / "config.json"; }
    void put(const std::string& bytes) const { std::ofstream(file(), std::ios::binary) << bytes; }
    std::string contents() const
    {
        std::ifstream in(file(), std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }

    fs::path m_folder;
};

TEST_F(SettingsStoreTest, MissingFileLoadsDefaultsAndIsNotCreated)
{
    SettingsStore store(file());
    EXPECT_EQ(store.load(), Settings());
    EXPECT_FALSE(fs::exists(file()));
}

std::string binaryGarbage()
{
    std::mt19937 random(3);
    std::string bytes(4096, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

struct BadFile {
    const char* name;
    std::string bytes;
};

class SettingsStoreBadFile : public SettingsStoreTest, public testing::WithParamInterface<BadFile> { };

TEST_P(SettingsStoreBadFile, LoadsDefaultsAndIsReplacedByTheNextUpdate)
{
    put(GetParam().bytes);
    SettingsStore store(file());
    EXPECT_EQ(store.load(), Settings());

    const Settings written = store.update([](Settings& s) { s.camera = "Webcam"; });
    Settings expected;
    expected.camera = "Webcam";
    EXPECT_EQ(written, expected);
    EXPECT_EQ(store.load(), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsStoreBadFile,
    testing::Values(BadFile { "Empty", "" }, BadFile { "Garbage", binaryGarbage() },
        // Valid JSON, but far too large to be a settings file.
        BadFile { "TenMegabytes", "{\"sensitivity\": 8" + std::string(10'000'000, ' ') + "}" },
        BadFile { "DeeplyNested", std::string(200'000, '[') + std::string(200'000, ']') },
        BadFile { "WrongType", R"({"camera": "Webcam", "sensitivity": "high", "cooldown_s": 5})" },
        BadFile { "Truncated", R"({"camera": "Web)" }, BadFile { "NotAnObject", R"(["camera", "Webcam"])" }),
    [](const testing::TestParamInfo<BadFile>& param) { return param.param.name; });

TEST_F(SettingsStoreTest, HonoursHandEditedValuesAndDropsOnlyUnknownModeAndLanguage)
{
    put(R"({"pixel_threshold": 12, "detection_mode": "radar", "language": "fr", "chat_id": 42})");
    const Settings loaded = SettingsStore(file()).load();
    EXPECT_EQ(loaded.pixelThreshold, 12);
    EXPECT_EQ(loaded.chatID, 42);
    EXPECT_EQ(loaded.detectionMode, DetectionMode::person);
    EXPECT_FALSE(loaded.language);
}

TEST_F(SettingsStoreTest, UpdateWritesSortedPrettyPrivateFile)
{
    put("{\"trigger_frames\": 7}");
    fs::permissions(file(), fs::perms::all);
    SettingsStore store(file());
    const Settings written = store.update([](Settings& s) { s.language = AppLanguage::es; });
    EXPECT_EQ(written.triggerFrames, 7); // read-modify-write keeps what was there
    EXPECT_EQ(written.language, AppLanguage::es);

    struct stat info { };
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(contents(), written.encode());
    EXPECT_EQ(store.load(), written);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(SettingsStoreTest, ChangeThatThrowsWritesNothing)
{
    put("{\"sensitivity\": 9}");
    SettingsStore store(file());
    EXPECT_THROW(store.update([](Settings&) { throw std::runtime_error("no"); }), std::runtime_error);
    EXPECT_EQ(contents(), "{\"sensitivity\": 9}");
}

TEST_F(SettingsStoreTest, UpdateWithoutAFolderThrows)
{
    SettingsStore missing(m_folder / "absent" / "config.json");
    EXPECT_THROW(missing.update([](Settings& s) { s.sensitivity = 4; }), std::system_error);
    EXPECT_FALSE(fs::exists(m_folder / "absent"));

    // A regular file where the folder should be: no permission trick, so it holds for root as well.
    put("{\"sensitivity\": 9}");
    SettingsStore blocked(file() / "config.json");
    EXPECT_THROW(blocked.update([](Settings& s) { s.sensitivity = 4; }), std::system_error);
    EXPECT_EQ(contents(), "{\"sensitivity\": 9}");
}

TEST_F(SettingsStoreTest, FailedWriteThrowsAndLeavesTheOldFileIntact)
{
    put("{\"sensitivity\": 9}");
    SettingsStore store(file());
    // The file size limit makes the write itself fail, which permission bits cannot do for root.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    bool threw = false;
    try {
        store.update([](Settings& s) { s.sensitivity = 4; });
    } catch (const std::system_error&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(contents(), "{\"sensitivity\": 9}");
    EXPECT_EQ(store.load().sensitivity, 9);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(SettingsStoreTest, UpdatesFromManyThreadsAreNotLost)
{
    SettingsStore store(file());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store] {
            for (int i = 0; i < 10; ++i)
                store.update([](Settings& s) { ++s.cooldown; });
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(store.load().cooldown, 60 + 40);
}

TEST_F(SettingsStoreTest, LoadDuringUpdatesSeesWholeFilesOnly)
{
    SettingsStore store(file());
    store.update([](Settings& s) { s.cooldown = 0; });
    std::atomic<bool> done { false };
    std::atomic<int> torn { 0 };
    std::thread reader([&] {
        int last = 0;
        while (!done) {
            const Settings seen = store.load();
            // A partly written file would load as the defaults (cooldown 60) or go backwards.
            if (seen.cooldown < last
                || seen.camera != std::string(static_cast<std::size_t>(seen.cooldown) * 50, 'c'))
                ++torn;
            last = seen.cooldown;
        }
    });
    for (int i = 1; i <= 30; ++i) {
        store.update([](Settings& s) {
            ++s.cooldown;
            s.camera.assign(static_cast<std::size_t>(s.cooldown) * 50, 'c');
        });
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(SettingsStoreTest, FifoInPlaceOfTheFileDoesNotBlockLoad)
{
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_EQ(SettingsStore(file()).load(), Settings());
}

} // namespace
