#include "FileSecretStore.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sys/stat.h>
#include <system_error>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class FileSecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_root = fs::path(::testing::TempDir()) / ("file-secret-store-" + std::to_string(::getpid()));
    fs::path m_folder = m_root / "secrets";
};

} // namespace

TEST_F(FileSecretStoreTest, SecretSurvivesARestartInAPrivateFile)
{
    const mode_t oldMask = ::umask(0);
    {
        FileSecretStore store(m_folder, "app.brisko.Brisko.telegram", "telegram-bot");
        EXPECT_FALSE(store.read());
        store.write("first");
        store.write("123:ção");
    }
    ::umask(oldMask);
    FileSecretStore again(m_folder, "app.brisko.Brisko.telegram", "telegram-bot");
    EXPECT_EQ(again.read(), "123:ção");
    EXPECT_EQ(modeOf(again.file()), 0600u);
    EXPECT_EQ(modeOf(m_folder), 0700u);
    // Only the secret's file is left: no temporary copies.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(FileSecretStoreTest, EachServiceAndAccountKeepsItsOwnSecretInsideTheFolder)
{
    FileSecretStore bot(m_folder, "svc", "telegram-bot");
    FileSecretStore other(m_folder, "svc", "other");
    FileSecretStore escaping(m_folder, "../../svc", "/etc/passwd");
    bot.write("a");
    other.write("b");
    escaping.write("c");
    EXPECT_EQ(bot.read(), "a");
    EXPECT_EQ(other.read(), "b");
    EXPECT_EQ(escaping.file().parent_path(), m_folder);
}

TEST_F(FileSecretStoreTest, UnreadableContentIsNone)
{
    FileSecretStore store(m_folder, "svc", "acct");
    store.write("x");
    std::ofstream(store.file(), std::ios::binary) << "\xff\xfe not text";
    EXPECT_FALSE(store.read());
}

TEST_F(FileSecretStoreTest, WriteFailureIsThrownAndLeavesNoTemporaryFile)
{
    FileSecretStore blocked(m_root / "plain-file" / "secrets", "svc", "acct");
    std::ofstream(m_root / "plain-file") << "not a folder";
    EXPECT_THROW(blocked.write("x"), std::system_error);

    // A folder in the secret's place makes the final rename fail, even for root.
    FileSecretStore store(m_folder, "svc", "acct");
    fs::create_directories(store.file() / "occupied");
    EXPECT_THROW(store.write("new"), std::system_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}
