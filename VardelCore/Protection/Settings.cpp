#include "Settings.h"

#include "K.h"
#include "L.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace vardel {

namespace {
    using json = nlohmann::json;

    [[noreturn]] void wrongType(const char* key, const json& value)
    {
        throw json::type_error::create(
            302, std::string("settings key \"") + key + "\" has the wrong type", &value);
    }

    // The value under `key`, or nothing when the key is absent or null.
    const json* present(const json& object, const char* key)
    {
        const auto it = object.find(key);
        if (it == object.end() || it->is_null())
            return nullptr;
        return &*it;
    }

    // An integer within the range of `Integer`. Numbers written with a fraction part of zero (8.0) are
    // accepted, as they are by other JSON decoders; anything else is the wrong type.
    template <typename Integer> Integer integer(const char* key, const json& value)
    {
        using Limits = std::numeric_limits<Integer>;
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(Limits::max()))
                wrongType(key, value);
            return static_cast<Integer>(number);
        }
        if (value.is_number_integer()) {
            const auto number = value.get<std::int64_t>();
            if (number < static_cast<std::int64_t>(Limits::min())
                || number > static_cast<std::int64_t>(Limits::max()))
                wrongType(key, value);
            return static_cast<Integer>(number);
        }
        if (value.is_number_float()) {
            const double number = value.get<double>();
            // The limits as doubles: min is exact, max + 1 is a power of two and exact as well.
            const double low = static_cast<double>(Limits::min());
            const double high = static_cast<double>(Limits::max() / 2 + 1) * 2;
            if (std::isfinite(number) && std::trunc(number) == number && number >= low && number < high)
                return static_cast<Integer>(number);
        }
        wrongType(key, value);
    }

    template <typename Integer> void read(const json& object, const char* key, Integer& field)
    {
        if (const json* value = present(object, key))
            field = integer<Integer>(key, *value);
    }

    void readString(const json& object, const char* key, std::string& field)
    {
        if (const json* value = present(object, key)) {
            if (!value->is_string())
                wrongType(key, *value);
            field = value->get<std::string>();
        }
    }
}

std::optional<std::string> Settings::monitorBlocker() const
{
    if (chatID && chatConfirmed)
        return std::nullopt;
    return L::t(K::blockNoTelegram);
}

Settings Settings::fromJSON(const json& object)
{
    if (!object.is_object())
        throw json::type_error::create(302, "settings must be a JSON object", &object);

    Settings settings;
    readString(object, "camera", settings.camera);
    if (const json* value = present(object, "roi"))
        settings.roi = value->get<ROI>();
    read(object, "sensitivity", settings.sensitivity);
    read(object, "pixel_threshold", settings.pixelThreshold);
    read(object, "trigger_frames", settings.triggerFrames);
    read(object, "cooldown_s", settings.cooldown);
    read(object, "pre_s", settings.preSeconds);
    read(object, "post_s", settings.postSeconds);
    if (const json* value = present(object, "chat_id"))
        settings.chatID = integer<std::int64_t>("chat_id", *value);
    if (present(object, "chat_label")) {
        std::string label;
        readString(object, "chat_label", label);
        settings.chatLabel = std::move(label);
    }
    if (const json* value = present(object, "chat_confirmed")) {
        if (!value->is_boolean())
            wrongType("chat_confirmed", *value);
        settings.chatConfirmed = value->get<bool>();
    }

    // A mode or language this version does not know (or garbage) must not cost the user the rest.
    if (const json* value = present(object, "detection_mode"); value && value->is_string()) {
        if (auto mode = detectionModeFromRawValue(value->get_ref<const std::string&>()))
            settings.detectionMode = *mode;
    }
    if (const json* value = present(object, "language"); value && value->is_string())
        settings.language = AppLanguage::fromRawValue(value->get_ref<const std::string&>());
    return settings;
}

Settings Settings::decode(std::string_view text) { return fromJSON(json::parse(text)); }

json Settings::toJSON() const
{
    json object = json::object();
    object["camera"] = camera;
    object["roi"] = roi;
    object["sensitivity"] = sensitivity;
    object["pixel_threshold"] = pixelThreshold;
    object["trigger_frames"] = triggerFrames;
    object["cooldown_s"] = cooldown;
    object["pre_s"] = preSeconds;
    object["post_s"] = postSeconds;
    if (chatID)
        object["chat_id"] = *chatID;
    if (chatLabel)
        object["chat_label"] = *chatLabel;
    object["chat_confirmed"] = chatConfirmed;
    object["detection_mode"] = rawValue(detectionMode);
    if (language)
        object["language"] = language->rawValue();
    return object;
}

std::string Settings::encode() const
{
    // nlohmann::json keeps object keys in a sorted map, so the output is in alphabetical order. Text that
    // is not valid UTF-8 (a camera name from a driver, say) is replaced rather than failing the save.
    return toJSON().dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace vardel
