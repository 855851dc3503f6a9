#include "Autostart.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vardel::test {
namespace {

    struct Quoting {
        std::string name;
        std::string program;
        std::string exec;
    };

    void PrintTo(const Quoting& quoting, std::ostream* out) { *out << quoting.name; }

    class ExecArgument : public testing::TestWithParam<Quoting> { };

    // The session must start the same program, whatever the folder's name holds.
    TEST_P(ExecArgument, StartsTheProgramItNames)
    {
        EXPECT_EQ(Autostart::execArgument(GetParam().program), GetParam().exec);
    }

    INSTANTIATE_TEST_SUITE_P(Autostart, ExecArgument,
        testing::Values(Quoting { "plain", "/usr/bin/brisko", "/usr/bin/brisko" },
            Quoting { "space", "/opt/My Apps/brisko", "\"/opt/My Apps/brisko\"" },
            Quoting { "dollarAndQuote", "/home/a$b\"c/brisko", "\"/home/a\\\\$b\\\\\"c/brisko\"" },
            Quoting { "percent", "/tmp/100%/brisko", "/tmp/100%%/brisko" }),
        [](const testing::TestParamInfo<Quoting>& quoting) { return quoting.param.name; });

    // Desktops skip an entry the user switched off in their own settings; so does the switch.
    TEST(Autostart, EntrySwitchedOffElsewhereReadsAsOff)
    {
        const auto entry
            = std::filesystem::temp_directory_path() / ("brisko-autostart-" + std::to_string(::getpid()));
        Autostart autostart(entry, "brisko");
        autostart.setEnabled(true);
        EXPECT_TRUE(autostart.enabled());
        std::ofstream(entry, std::ios::app) << "Hidden=true\n";
        EXPECT_FALSE(autostart.enabled());
        autostart.setEnabled(false);
        EXPECT_FALSE(std::filesystem::exists(entry));
    }

} // namespace
} // namespace vardel::test
