#include "AtomicFile.h"

#include "OutboxFolder.h"

#include <gtest/gtest.h>

using namespace vardel;
namespace fs = std::filesystem;
using test::OutboxFolder;

TEST(AtomicFile, WriteReplacesCreateTakesTheNextFreeNameAndCleanUpRemovesOnlyLeftovers)
{
    OutboxFolder folder;
    const fs::path path = folder.root() / "1.json";
    AtomicFile::write(path, "old");
    fs::permissions(path, fs::perms::all);
    AtomicFile::write(path, std::string("new\0bytes", 9), 0640);
    EXPECT_EQ(OutboxFolder::read(path), std::string("new\0bytes", 9));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

    OutboxFolder::write(folder.root() / "2.json", "second");
    const fs::path made = AtomicFile::create(
        "third", 0600, [&](int attempt) { return folder.root() / (std::to_string(attempt + 1) + ".json"); });
    EXPECT_EQ(made, folder.root() / "3.json");
    EXPECT_EQ(OutboxFolder::read(path), std::string("new\0bytes", 9));
    EXPECT_EQ(OutboxFolder::read(made), "third");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.root()), {}), 4) << "no temporary file is left";

    // Start-up clean-up removes every leftover of its own and no other file.
    OutboxFolder data, elsewhere;
    const fs::path day = data.root() / "events" / "2026-12-06";
    fs::create_directories(day);
    fs::create_directories(data.root() / "secrets");
    const std::vector<fs::path> leftovers { data.root() / ".config.Ab12Cd.tmp",
        data.outbox() / ".1-text.Ab12Cd.tmp", data.failed() / ".2-photo.Zz99Yy.tmp",
        day / ".2026-12-06_10-00-00.Qw12Er.tmp", data.root() / "secrets" / ".s.Ab12Cd.tmp" };
    std::vector<fs::path> kept { data.outbox() / "1-text.json", day / "2026-12-06_10-00-00.jpg",
        day / ".hidden.tmp", elsewhere.root() / ".x.Ab12Cd.tmp" };
    for (const char* name : { "config.json", ".tmp", "notes.tmp", ".notes.tmp", "..Zx81Qa.tmp",
             ".a.Zx-1Qa.tmp", ".a.Zx81Qa.tmp~", ".a.Zx81Qa.tmpx", ".abZx81Qa.tmp" })
        kept.push_back(data.root() / name);
    for (const auto& file : leftovers)
        OutboxFolder::write(file, "half");
    for (const auto& file : kept)
        OutboxFolder::write(file, "real");
    // A link leading out of the data folder is not followed.
    fs::create_directory_symlink(elsewhere.root(), data.root() / "link");

    EXPECT_EQ(AtomicFile::removeAllLeftovers(data.root()), 5);
    for (const auto& file : leftovers)
        EXPECT_FALSE(fs::exists(file)) << file;
    for (const auto& file : kept)
        EXPECT_EQ(OutboxFolder::read(file), "real") << file;
    EXPECT_EQ(AtomicFile::removeAllLeftovers(data.root() / "missing"), 0);
}
