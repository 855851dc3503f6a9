#include "FileSecretStore.h"

#include "OutboxFolder.h"

#include <gtest/gtest.h>

using namespace vardel;
namespace fs = std::filesystem;
using test::OutboxFolder;

namespace {

TEST(FileSecretStore, SecretSurvivesARestartInAPrivateFileOfItsOwnAndAFailedWriteLeavesNoTrace)
{
    OutboxFolder root;
    const fs::path folder = root.root() / "secrets";
    const mode_t oldMask = ::umask(0);
    {
        FileSecretStore store(folder, "app.brisko.Brisko.telegram", "telegram-bot");
        EXPECT_FALSE(store.read());
        store.write("first");
        store.write("123:ção");
        FileSecretStore(folder, "app.brisko.Brisko.telegram", "other").write("b");
    }
    ::umask(oldMask);
    FileSecretStore again(folder, "app.brisko.Brisko.telegram", "telegram-bot");
    EXPECT_EQ(again.read(), "123:ção");
    EXPECT_EQ(fs::status(again.file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2) << "no temporary copies";
    EXPECT_EQ(FileSecretStore(folder, "../../svc", "/etc/passwd").file().parent_path(), folder);

    for (const char* notText : { "\xff\xfe not text", "surrogate \xED\xA0\x80" }) {
        OutboxFolder::write(again.file(), notText);
        EXPECT_FALSE(again.read()) << notText;
    }

    OutboxFolder::write(root.root() / "plain-file", "not a folder");
    EXPECT_THROW(
        FileSecretStore(root.root() / "plain-file" / "secrets", "svc", "acct").write("x"), std::system_error);

    // A folder in the secret's place makes the final rename fail, even for root.
    FileSecretStore store(folder, "svc", "acct");
    fs::create_directories(store.file() / "occupied");
    EXPECT_THROW(store.write("new"), std::system_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 3)
        << "two secrets and the folder in the way";
}

} // namespace
