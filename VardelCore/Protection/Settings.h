#pragma once

#include "AppLanguage.h"
#include "DetectionMode.h"
#include "ROI.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace vardel {

// The persisted user choices, as one value with the defaults of a fresh installation. Decoded from and
// encoded to the JSON object of the settings file; JSON keys are fixed strings, independent of the
// field names. A plain value; any thread.
struct Settings {
    std::string camera;
    ROI roi = ROI::full();
    int sensitivity = 6;
    int pixelThreshold = 25;
    int triggerFrames = 3;
    int cooldown = 60; // seconds
    int preSeconds = 4;
    int postSeconds = 10;
    std::optional<std::int64_t> chatID;
    std::optional<std::string> chatLabel;
    bool chatConfirmed = false;
    DetectionMode detectionMode = DetectionMode::person;
    std::optional<AppLanguage> language;

    // Why protection may not start yet (the localized "no Telegram chat" text in the current language),
    // or nothing once a chat is stored and confirmed.
    std::optional<std::string> monitorBlocker() const;

    // Reads the keys over the defaults: absent or null keys keep the default, a present key of the wrong
    // type throws nlohmann::json::exception (the whole decode fails); an unreadable "detection_mode"
    // keeps `person` and an unreadable "language" stays absent; unknown keys are ignored.
    static Settings fromJSON(const nlohmann::json& json);
    // Parses and decodes the text of a settings file; throws nlohmann::json::exception when it fails.
    static Settings decode(std::string_view text);

    // Every field under its key; "chat_id", "chat_label" and "language" only when present, never null.
    nlohmann::json toJSON() const;
    // The file form: pretty-printed with keys in alphabetical order, ending in a newline.
    std::string encode() const;

    bool operator==(const Settings&) const = default;
};

} // namespace vardel
