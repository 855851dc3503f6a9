#include "Autostart.h"

#include "AppId.h"
#include "AtomicFile.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <fstream>
#include <string_view>

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
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brisko\n"
           "Exec="
        + execArgument(m_program)
        + "\n"
          "Icon="
        + kApplicationId
        + "\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
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
    std::string escaped;
    for (const char c : argument) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '\n': escaped += "\\n"; break;
        case '\t': escaped += "\\t"; break;
        case '\r': escaped += "\\r"; break;
        case '%': escaped += "%%"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace vardel
