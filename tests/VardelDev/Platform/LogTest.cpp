#include "Log.h"
#include "FakeClock.h"
#include "OutboxFolder.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace vardel;
namespace fs = std::filesystem;

TEST(Log, LineIsLocalStampSpaceMessageNewlineInAPrivateFileThatRotatesAboveTheLimit)
{
    test::OutboxFolder data;
    const fs::path folder = data.root(), file = folder / "app.log";
    const auto clock = std::make_shared<test::FakeClock>(1772600767.9);
    // 2026-03-04 05:06:07.9 UTC; the fraction is cut, not rounded. POSIX zones need no time zone database.
    test::ScopedZone zone("UTC0");
    for (const char* name : { "UTC0", "BRT3" }) {
        zone.set(name);
        Log(folder, clock).info(name); // destruction writes pending lines
    }
    EXPECT_EQ(test::OutboxFolder::read(file), "2026-03-04 05:06:07 UTC0\n2026-03-04 02:06:07 BRT3\n");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // Rotation looks at the size before the line.
    for (std::uintmax_t size : { Log::kRotateAbove, Log::kRotateAbove + 1 }) {
        std::ofstream(folder / "app.log.1") << "oldest\n";
        std::ofstream(file) << std::string(size, 'x');
        Log(folder, clock).info("nova");
        const bool rotated = size > Log::kRotateAbove;
        // A line is the 19-character stamp, a space, "nova" and a newline.
        EXPECT_EQ(fs::file_size(file), rotated ? 25u : size + 25) << size;
        EXPECT_EQ(fs::file_size(folder / "app.log.1"), rotated ? size : 7u) << size;
    }
}
