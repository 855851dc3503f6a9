#include "Autostart.h"

#include "AppId.h"
#include "AtomicFile.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

namespace vardel {

Autostart::Autostart(std::filesystem::path entry, std::string program)
    : m_entry(std::move(entry))
    , m_program(std::move(program))
{
}

Autostart Autostart::standard()
{
    const std::filesystem::path config
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    return Autostart(config / "autostart" / (std::string(kApplicationId) + ".desktop"),
        QCoreApplication::applicationFilePath().toStdString());
}

bool Autostart::enabled() const
{
    std::ifstream file(m_entry);
    if (!file)
        return false;
    for (std::string line; std::getline(file, line);) {
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

void Autostart::setEnabled(bool on) const
{
    if (!on) {
        std::filesystem::remove(m_entry);
        return;
    }
    std::filesystem::create_directories(m_entry.parent_path());
    AtomicFile::write(m_entry, contents(), 0644);
}

std::string Autostart::contents() const
{
    std::string text = "[Desktop Entry]\nType=Application\nName=Brisko\n";
    text += "Exec=" + execArgument(m_program) + "\n";
    text += std::string("Icon=") + kApplicationId + "\n";
    text += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
    return text;
}

std::string Autostart::execArgument(const std::string& program)
{
    // First the quoting of the Exec key, then the escapes every string value gets (which double the
    // backslashes the quoting added), and "%%" so that no "%" reads as a field code.
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    bool needsQuotes = false;
    for (const char c : program) {
        needsQuotes = needsQuotes || reserved.find(c) != std::string_view::npos;
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    const std::string argument = needsQuotes ? '"' + quoted + '"' : program;
    constexpr std::pair<char, std::string_view> escapes[]
        = { { '\\', "\\\\" }, { '\n', "\\n" }, { '\t', "\\t" }, { '\r', "\\r" }, { '%', "%%" } };
    std::string escaped;
    for (const char c : argument) {
        const auto found
            = std::find_if(std::begin(escapes), std::end(escapes), [c](auto e) { return e.first == c; });
        if (found != std::end(escapes))
            escaped += found->second;
        else
            escaped += c;
    }
    return escaped;
}

} // namespace vardel
