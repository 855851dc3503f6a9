#include "Log.h"
#include "FakeClock.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the test in a fixed time zone (POSIX TZ strings need no time zone database).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        m_old ? setenv("TZ", m_old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::path(::testing::TempDir())
            / ("log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-"
                + std::to_string(::getpid()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        Log::setSecret(std::nullopt);
    }
    void TearDown() override
    {
        Log::setSecret(std::nullopt);
        fs::remove_all(m_folder);
    }
    fs::path file() const { return m_folder / "app.log"; }
    fs::path previous() const { return m_folder / "app.log.1"; }

    fs::path m_folder;
    std::shared_ptr<test::FakeClock> m_clock = std::make_shared<test::FakeClock>();
};

} // namespace

TEST_F(LogTest, LineIsLocalStampSpaceMessageNewlineInAPrivateFile)
{
    // 2026-03-04 05:06:07.9 UTC; the fraction is cut, not rounded.
    m_clock->set(1772600767.9);
    {
        ScopedTimeZone utc("UTC0");
        Log log(m_folder, m_clock);
        log.info("fila: clipe não entrou: disco cheio");
        log.flush();
    }
    {
        ScopedTimeZone saoPaulo("BRT3");
        Log log(m_folder, m_clock);
        log.info("segunda");
    } // destruction writes pending lines
    EXPECT_EQ(readFile(file()),
        "2026-03-04 05:06:07 fila: clipe não entrou: disco cheio\n"
        "2026-03-04 02:06:07 segunda\n");
    struct stat info { };
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole)
{
    Log log(m_folder, m_clock);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 100; ++i)
                log.info("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    log.flush();

    std::istringstream lines(readFile(file()));
    std::vector<int> nextPerThread(4, 0);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + 20, "thread %d line %d", &t, &i), 2) << line;
        // Each thread's lines appear in the order that thread logged them.
        EXPECT_EQ(i, nextPerThread.at(t)++);
        ++count;
    }
    EXPECT_EQ(count, 400);
}

// Rotation happens only when the file is above the limit before the line is appended.
class LogRotation : public LogTest, public ::testing::WithParamInterface<std::uintmax_t> { };

TEST_P(LogRotation, RotatesOnlyAboveTheLimit)
{
    const std::uintmax_t size = GetParam();
    const bool rotates = size > Log::kRotateAbove;
    {
        std::ofstream(previous()) << "oldest\n";
    }
    {
        std::ofstream(file()) << std::string(size, 'x');
    }

    Log log(m_folder, m_clock);
    log.info("nova");
    log.flush();

    const std::string current = readFile(file());
    if (rotates) {
        EXPECT_EQ(current.size(), 25u) << "only the new line"; // 19-character stamp, space, "nova", newline
        EXPECT_EQ(fs::file_size(previous()), size) << "the full file replaced the older generation";
    } else {
        EXPECT_EQ(current.size(), size + 25);
        EXPECT_EQ(readFile(previous()), "oldest\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LogRotation, ::testing::Values(Log::kRotateAbove, Log::kRotateAbove + 1));
