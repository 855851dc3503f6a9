#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// What the data folder remembers about protection from one run to the next: whether it is to come back
// on at the next start (the user's wish, kept until the user turns protection off or quits), and when the
// run was last known to be alive while protecting (the heartbeat). A plain value; `load` and `save` touch
// the file and may run on any thread.
struct ResumeState {
    bool protecting = false;
    std::optional<double> aliveAt;

    bool operator==(const ResumeState&) const = default;

    std::string encode() const;
    // Anything unreadable decodes as "off": an unknown wish never switches a camera on.
    static ResumeState decode(std::string_view text);

    // The state in `file`; "off" when it is absent or unreadable.
    static ResumeState load(const std::filesystem::path& file);
    // Replaces `file` atomically; throws when it cannot be written.
    void save(const std::filesystem::path& file) const;

    // The file in a data folder.
    static std::filesystem::path fileIn(const std::filesystem::path& dataFolder)
    {
        return dataFolder / "protection.json";
    }
};

} // namespace vardel
