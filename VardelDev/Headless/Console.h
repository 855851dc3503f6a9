#pragma once

#include <string>

namespace vardel {

// One line of progress or trouble on standard error, as the user or the journal should see it. Under
// systemd (JOURNAL_STREAM set) each line starts with its syslog level ("<6>", "<4>", "<3>"), which
// journald turns into the entry's priority; in a terminal it starts with "brisko: ". Any thread; a line
// is written with one call, so lines from several threads do not mix.
namespace Console {

    enum class Level { error = 3, warning = 4, info = 6 };

    void say(const std::string& line, Level level = Level::info);
    inline void warn(const std::string& line) { say(line, Level::warning); }
    inline void fail(const std::string& line) { say(line, Level::error); }

} // namespace Console

} // namespace vardel
