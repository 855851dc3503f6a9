#include "AtomicFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("vardel-atomic-" + std::to_string(::getpid()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }
    static unsigned permissions(const fs::path& path)
    {
        struct stat info { };
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(m_folder))
            result.push_back(entry.path().filename().string());
        return result;
    }

    fs::path m_folder;
};

TEST_F(AtomicFileTest, ReplacesFileWithRequestedModeAndLeavesNothingElse)
{
    const fs::path path = m_folder / "config.json";
    AtomicFile::write(path, "old");
    fs::permissions(path, fs::perms::all);

    AtomicFile::write(path, std::string("new\0bytes", 9));
    EXPECT_EQ(read(path), std::string("new\0bytes", 9));
    EXPECT_EQ(permissions(path), 0600u);
    EXPECT_EQ(names(), std::vector<std::string> { "config.json" });

    AtomicFile::write(path, "", 0640);
    EXPECT_EQ(read(path), "");
    EXPECT_EQ(permissions(path), 0640u);
}

TEST_F(AtomicFileTest, RecognisesAndRemovesOnlyItsOwnLeftovers)
{
    EXPECT_TRUE(AtomicFile::isTemporary(".config.json.a1B2c3.tmp"));
    EXPECT_FALSE(AtomicFile::isTemporary("config.json"));
    EXPECT_FALSE(AtomicFile::isTemporary(".tmp"));
    EXPECT_FALSE(AtomicFile::isTemporary("notes.tmp"));

    AtomicFile::write(m_folder / "keep.json", "k");
    std::ofstream(m_folder / ".keep.json.Zx81Qa.tmp") << "half";
    std::ofstream(m_folder / "user.tmp") << "theirs";
    EXPECT_EQ(AtomicFile::removeLeftovers(m_folder), 1);
    auto left = names();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string> { "keep.json", "user.tmp" }));
    EXPECT_EQ(AtomicFile::removeLeftovers(m_folder / "missing"), 0);
}

} // namespace
