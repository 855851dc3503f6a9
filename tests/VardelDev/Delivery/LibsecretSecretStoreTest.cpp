// The Secret Service store against a real GNOME Keyring. The outer tests start a private bus with a
// fresh keyring (its files in a scratch home) and run this same binary on it; the inner tests run only
// there and skip elsewhere, so they never touch the developer's own keyring.
#include "LibsecretSecretStore.h"
#include "Error.h"
#include "FileSecretStore.h"
#include "Log.h"
#include "OutboxFolder.h"
#include "Paths.h"
#include "PrivateBus.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace vardel;
using test::PrivateBus;
namespace fs = std::filesystem;

namespace {

constexpr const char* kInsideVariable = "VARDEL_TEST_KEYRING";
constexpr const char* kService = "app.brisko.Brisko.telegram";
constexpr const char* kLabel = "Brisko Telegram bot";

class InsideKeyring : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv(kInsideVariable))
            GTEST_SKIP() << "runs only on the private bus of LibsecretSecretStoreTest";
        fs::remove_all(m_data);
        m_paths.prepare();
    }
    void TearDown() override { fs::remove_all(m_data); }

    LibsecretSecretStore store(const std::string& account = "telegram-bot", double timeout = 10)
    {
        return LibsecretSecretStore(kService, account, kLabel, &m_log, timeout);
    }
    std::string log()
    {
        m_log.flush();
        return test::OutboxFolder::read(m_paths.logFile());
    }

    fs::path m_data = fs::path(::testing::TempDir()) / ("keyring-data-" + std::to_string(::getpid()));
    Paths m_paths { m_data };
    Log m_log { m_paths.logs() };
};

TEST_F(InsideKeyring, StoresReadsAndReplaces)
{
    auto first = store();
    EXPECT_FALSE(first.read()) << "a fresh keyring holds no token";
    first.write("123456:first");
    store().write("123456:second-ção");
    EXPECT_EQ(first.read(), "123456:second-ção") << "a later store finds and replaces the item";
    EXPECT_FALSE(store("someone-else").read());
    const fs::path found = m_data / "found";
    const std::string search = "secret-tool search --all service " + std::string(kService)
        + " account telegram-bot > " + found.string() + " 2>&1";
    ASSERT_EQ(std::system(search.c_str()), 0);
    const std::string items = test::OutboxFolder::read(found);
    EXPECT_EQ(items.find("label = "), items.rfind("label = ")) << "one item: " << items;
    EXPECT_NE(items.find(std::string("label = ") + kLabel), std::string::npos) << items;

    auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
    EXPECT_NE(dynamic_cast<LibsecretSecretStore*>(chosen.get()), nullptr);
    chosen->write("654321:kept-in-the-keyring");
    EXPECT_FALSE(fs::exists(m_paths.secrets()));
    EXPECT_EQ(log(), "");
}

// Run on a bus of its own: once locked, the keyring stays locked (no prompt can unlock it here).
TEST_F(InsideKeyring, LockedKeyringIsAnErrorNotAFallback)
{
    store().write("123456:before-the-lock");
    ASSERT_EQ(std::system("gdbus call --session --dest org.freedesktop.secrets --object-path "
                          "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock "
                          "\"['/org/freedesktop/secrets/aliases/default']\" >/dev/null"),
        0);

    auto bounded = store("telegram-bot", 2);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(bounded.write("123456:while-locked"), Error);
    EXPECT_FALSE(bounded.read());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8))
        << "calls are time-bounded";

    auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
    EXPECT_NE(dynamic_cast<LibsecretSecretStore*>(chosen.get()), nullptr) << "still the store";
    EXPECT_FALSE(fs::exists(m_paths.secrets()));
    EXPECT_NE(log().find("chaveiro: não leu o token: "), std::string::npos);
}

// Run on a bus that offers no Secret Service at all.
TEST_F(InsideKeyring, FallsBackToAPrivateFileWithoutSecretService)
{
    EXPECT_FALSE(LibsecretSecretStore::serviceAvailable());
    auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
    auto* file = dynamic_cast<FileSecretStore*>(chosen.get());
    ASSERT_NE(file, nullptr);
    chosen->write("654321:kept-in-a-file");
    EXPECT_EQ(file->file().parent_path(), m_paths.secrets());
    EXPECT_EQ(fs::status(file->file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(m_paths.secrets()).permissions(), fs::perms::owner_all);
    const std::string text = log();
    EXPECT_NE(text.find("chaveiro: a sessão não oferece Secret Service"), std::string::npos) << text;
    EXPECT_EQ(text.find("kept-in-a-file"), std::string::npos);
}

struct InsideCase {
    const char* name;
    bool withKeyring;
};

class LibsecretSecretStoreTest : public ::testing::TestWithParam<InsideCase> { };

} // namespace

// Each inner test on a bus of its own, with a fresh unlocked keyring or with no Secret Service at all.
TEST_P(LibsecretSecretStoreTest, PassesOnAPrivateBus)
{
    for (const char* tool : { "dbus-daemon", "gdbus", "gnome-keyring-daemon", "secret-tool" })
        if (!PrivateBus::onPath(tool))
            GTEST_SKIP() << tool
                         << " is not installed (Debian packages dbus, gnome-keyring, libsecret-tools)";
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    if (GetParam().withKeyring) {
        bus.start({ "gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets" }, {}, "pw");
        ASSERT_TRUE(bus.waitForName("org.freedesktop.secrets"));
    }
    const auto run
        = bus.run({ PrivateBus::self(), std::string("--gtest_filter=InsideKeyring.") + GetParam().name },
            { std::string(kInsideVariable) + "=1" });
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test."), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Sessions, LibsecretSecretStoreTest,
    ::testing::Values(InsideCase { "StoresReadsAndReplaces", true },
        InsideCase { "LockedKeyringIsAnErrorNotAFallback", true },
        InsideCase { "FallsBackToAPrivateFileWithoutSecretService", false }),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });
