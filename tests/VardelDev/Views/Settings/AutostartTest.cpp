#include "Autostart.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vardel::test {
namespace {

    // The session must start the same program, whatever the folder's name holds.
    TEST(Autostart, ExecArgumentStartsTheProgramItNames)
    {
        for (const auto& [program, exec] : { std::pair { "/usr/bin/brisko", "/usr/bin/brisko" },
                 { "/opt/My Apps/brisko", "\"/opt/My Apps/brisko\"" },
                 { "/home/a$b\"c/brisko", "\"/home/a\\\\$b\\\\\"c/brisko\"" },
                 { "/tmp/100%/brisko", "/tmp/100%%/brisko" } })
            EXPECT_EQ(Autostart::execArgument(program), exec);
    }

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
