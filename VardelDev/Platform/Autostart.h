#pragma once

#include <filesystem>
#include <string>

namespace vardel {

// The "Start at login" switch: a desktop entry in the user's XDG autostart folder that the session starts
// when the user signs in. Plain file operations on the calling thread (one small local file, written
// atomically); failures throw std::system_error or std::filesystem::filesystem_error.
class Autostart {
public:
    // `entry` is the desktop entry's file, `program` the executable the session is to start.
    Autostart(std::filesystem::path entry, std::string program);

    // $XDG_CONFIG_HOME/autostart/app.brisko.Brisko.desktop (~/.config when unset), starting this executable.
    static Autostart standard();

    const std::filesystem::path& entry() const { return m_entry; }

    // An entry exists and is not switched off: desktops skip entries with "Hidden=true" or
    // "X-GNOME-Autostart-enabled=false", so those read as off.
    bool enabled() const;
    // Writes the entry (creating the autostart folder) or removes it; a missing entry is already off.
    void setEnabled(bool on) const;

    // The entry's text.
    std::string contents() const;
    // `program` as the one argument of an Exec line: quoted when it holds a space or another reserved
    // character, with the escapes of the desktop entry format.
    static std::string execArgument(const std::string& program);

private:
    std::filesystem::path m_entry;
    std::string m_program;
};

} // namespace vardel
