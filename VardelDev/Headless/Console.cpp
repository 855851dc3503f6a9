#include "Console.h"

#include <cstdlib>
#include <unistd.h>

namespace vardel::Console {

void say(const std::string& line, Level level)
{
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    std::string text = journal ? std::string("<") + char('0' + static_cast<int>(level)) + ">" : "brisko: ";
    text += line;
    text += '\n';
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

} // namespace vardel::Console
