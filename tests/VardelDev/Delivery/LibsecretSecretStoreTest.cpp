// The Secret Service store against a real GNOME Keyring. The outer tests start a private session bus with
// a fresh keyring (its files in a temporary home) and run this same binary inside it; the inner tests
// exist only there, so they never touch the developer's own keyring.
#include <libsecret/secret.h>

#include "Error.h"
#include "FileSecretStore.h"
#include "LibsecretSecretStore.h"
#include "Log.h"
#include "Paths.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

constexpr const char* kInsideVariable = "VARDEL_TEST_KEYRING";
constexpr const char* kLabel = "Brisko Telegram bot";

bool onPath(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Every item with these attributes, whatever its schema, with its label.
std::vector<std::string> labelsOf(const std::string& service, const std::string& account)
{
    std::vector<std::string> labels;
    SecretService* secrets = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    if (!secrets)
        return labels;
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, (gpointer) "service", (gpointer)service.c_str());
    g_hash_table_insert(attributes, (gpointer) "account", (gpointer)account.c_str());
    GList* items
        = secret_service_search_sync(secrets, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    for (GList* item = items; item; item = item->next) {
        gchar* label = secret_item_get_label(SECRET_ITEM(item->data));
        labels.emplace_back(label ? label : "");
        g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(secrets);
    return labels;
}

bool lockDefaultCollection()
{
    SecretService* secrets = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    if (!secrets)
        return false;
    SecretCollection* collection = secret_collection_for_alias_sync(
        secrets, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    bool locked = false;
    if (collection) {
        GList* objects = g_list_append(nullptr, collection);
        locked = secret_service_lock_sync(secrets, objects, nullptr, nullptr, nullptr) == 1;
        g_list_free(objects);
        g_object_unref(collection);
    }
    g_object_unref(secrets);
    return locked;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class InsideKeyring : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(m_data);
        m_paths.prepare();
    }
    void TearDown() override { fs::remove_all(m_data); }

    LibsecretSecretStore store(const std::string& account = "telegram-bot", double timeout = 10)
    {
        return LibsecretSecretStore("app.brisko.Brisko.telegram", account, kLabel, &m_log, timeout);
    }

    fs::path m_data = fs::path(::testing::TempDir()) / ("keyring-data-" + std::to_string(::getpid()));
    Paths m_paths { m_data };
    Log m_log { m_paths.logs() };
};

class StoresReadsAndReplaces : public InsideKeyring {
    void TestBody() override
    {
        auto first = store();
        EXPECT_FALSE(first.read()) << "a fresh keyring holds no token";
        first.write("123456:first");
        auto later = store();
        EXPECT_EQ(later.read(), "123456:first") << "a later run finds the item";
        later.write("123456:second-ção");
        EXPECT_EQ(first.read(), "123456:second-ção");
        EXPECT_FALSE(store("someone-else").read());

        const auto labels = labelsOf("app.brisko.Brisko.telegram", "telegram-bot");
        ASSERT_EQ(labels.size(), 1u) << "writing again replaces the item";
        EXPECT_EQ(labels.front(), kLabel);
    }
};

class ChoosesTheKeyringOverTheFile : public InsideKeyring {
    void TestBody() override
    {
        EXPECT_TRUE(LibsecretSecretStore::serviceAvailable());
        auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
        EXPECT_NE(dynamic_cast<LibsecretSecretStore*>(chosen.get()), nullptr);
        chosen->write("654321:kept-in-the-keyring");
        m_log.flush();
        EXPECT_FALSE(fs::exists(m_paths.secrets()));
        EXPECT_EQ(readFile(m_paths.logFile()), "");
    }
};

// Run in a session of its own: once locked, the keyring stays locked (no prompt can unlock it here).
class LockedKeyringIsAnErrorNotAFallback : public InsideKeyring {
    void TestBody() override
    {
        auto unlocked = store();
        unlocked.write("123456:before-the-lock");
        ASSERT_TRUE(lockDefaultCollection());

        auto bounded = store("telegram-bot", 2);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(bounded.write("123456:while-locked"), Error);
        EXPECT_FALSE(bounded.read());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8))
            << "calls are time-bounded";

        auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
        EXPECT_NE(dynamic_cast<LibsecretSecretStore*>(chosen.get()), nullptr)
            << "a locked keyring is still the store";
        EXPECT_FALSE(fs::exists(m_paths.secrets()));
        m_log.flush();
        EXPECT_NE(readFile(m_paths.logFile()).find("chaveiro: não leu o token: "), std::string::npos);
    }
};

// Run on a session bus that offers no Secret Service at all (nothing activatable).
class FallsBackToAPrivateFileWithoutSecretService : public InsideKeyring {
    void TestBody() override
    {
        EXPECT_FALSE(LibsecretSecretStore::serviceAvailable());
        auto chosen = LibsecretSecretStore::forBotToken(m_paths, m_log);
        auto* file = dynamic_cast<FileSecretStore*>(chosen.get());
        ASSERT_NE(file, nullptr);
        chosen->write("654321:kept-in-a-file");
        EXPECT_EQ(file->file().parent_path(), m_paths.secrets());
        EXPECT_EQ(fs::status(file->file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(m_paths.secrets()).permissions(), fs::perms::owner_all);
        m_log.flush();
        const std::string log = readFile(m_paths.logFile());
        EXPECT_NE(log.find("chaveiro: a sessão não oferece Secret Service"), std::string::npos) << log;
        EXPECT_EQ(log.find("kept-in-a-file"), std::string::npos);
    }
};

template <typename Case> void registerInside(const char* name)
{
    ::testing::RegisterTest("InsideKeyring", name, nullptr, nullptr, __FILE__, __LINE__,
        []() -> InsideKeyring* { return new Case; });
}

const bool kRegistered = [] {
    if (!std::getenv(kInsideVariable))
        return false;
    registerInside<StoresReadsAndReplaces>("StoresReadsAndReplaces");
    registerInside<ChoosesTheKeyringOverTheFile>("ChoosesTheKeyringOverTheFile");
    registerInside<LockedKeyringIsAnErrorNotAFallback>("LockedKeyringIsAnErrorNotAFallback");
    registerInside<FallsBackToAPrivateFileWithoutSecretService>(
        "FallsBackToAPrivateFileWithoutSecretService");
    return true;
}();

struct RunResult {
    int status = -1;
    std::string output;
};

// A session bus configuration with no service folders: nothing can be activated on it.
constexpr const char* kBareBus
    = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
)";

// Runs `filter` of this binary inside a new session bus in a scratch home: with a fresh unlocked GNOME
// Keyring, or (`withKeyring` false) on a bare bus where no Secret Service exists.
RunResult runInsidePrivateSession(const std::string& filter, bool withKeyring = true)
{
    char scratchTemplate[] = "/tmp/vardel-keyring-XXXXXX";
    const fs::path scratch = ::mkdtemp(scratchTemplate);
    fs::create_directories(scratch / "home");
    fs::create_directories(scratch / "run");
    fs::permissions(scratch / "run", fs::perms::owner_all);
    std::ofstream(scratch / "bare.conf") << kBareBus;
    const std::string self = fs::read_symlink("/proc/self/exe");
    const std::string start = withKeyring ? "dbus-run-session -- sh -c 'printf pw | gnome-keyring-daemon "
                                            "--unlock --components=secrets >/dev/null && "
                                            "exec \"$0\" --gtest_filter=\"$1\"' "
                                          : "dbus-run-session --config-file='"
            + (scratch / "bare.conf").string() + "' -- sh -c " + "'exec \"$0\" --gtest_filter=\"$1\"' ";
    const std::string command = "cd '" + scratch.string() + "' && env HOME='" + (scratch / "home").string()
        + "' XDG_DATA_HOME='" + (scratch / "home/data").string() + "' XDG_RUNTIME_DIR='"
        + (scratch / "run").string() + "' " + kInsideVariable + "=1 timeout 120 " + start + "'" + self + "' '"
        + filter + "' 2>&1";
    RunResult result;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer {};
        while (std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe))
            result.output.append(buffer.data(), got);
        int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::remove_all(scratch);
    return result;
}

int passedCount(const std::string& output)
{
    int count = 0;
    for (auto at = output.find("[       OK ]"); at != std::string::npos;
         at = output.find("[       OK ]", at + 1))
        ++count;
    return count;
}

class LibsecretSecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : { "dbus-run-session", "gnome-keyring-daemon" })
            if (!onPath(tool))
                GTEST_SKIP() << tool << " is not installed (Debian packages dbus, gnome-keyring)";
    }
};

} // namespace

TEST_F(LibsecretSecretStoreTest, StoresAndChoosesAPrivateGnomeKeyring)
{
    auto run = runInsidePrivateSession("InsideKeyring.Stores*:InsideKeyring.Chooses*");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(passedCount(run.output), 2) << run.output;
}

TEST_F(LibsecretSecretStoreTest, LockedKeyringFailsWithinTheTimeOut)
{
    auto run = runInsidePrivateSession("InsideKeyring.Locked*");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(passedCount(run.output), 1) << run.output;
}

TEST_F(LibsecretSecretStoreTest, SessionWithoutSecretServiceUsesThePrivateFile)
{
    auto run = runInsidePrivateSession("InsideKeyring.FallsBack*", false);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(passedCount(run.output), 1) << run.output;
}
