#include "AtomicFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>

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

TEST_F(AtomicFileTest, FailsWhenTheFolderCannotHoldTheFile)
{
    const fs::path notAFolder = m_folder / "plain";
    AtomicFile::write(notAFolder, "x");
    // A regular file as parent stops even root, unlike permission bits.
    EXPECT_THROW(AtomicFile::write(notAFolder / "config.json", "y"), std::system_error);
    EXPECT_THROW(AtomicFile::write(m_folder / "missing" / "config.json", "y"), std::system_error);
    EXPECT_EQ(read(notAFolder), "x");
}

TEST_F(AtomicFileTest, FailedWriteKeepsOldFileAndRemovesTemporary)
{
    const fs::path path = m_folder / "item.json";
    AtomicFile::write(path, "intact");

    // A file size limit makes write() fail part-way with EFBIG, whatever the user's privileges.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::error_code caught;
    try {
        AtomicFile::write(path, std::string(100'000, 'z'));
    } catch (const std::system_error& error) {
        caught = error.code();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(caught, std::errc::file_too_large);
    EXPECT_EQ(read(path), "intact");
    EXPECT_EQ(names(), std::vector<std::string> { "item.json" });
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
