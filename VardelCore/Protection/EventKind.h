#pragma once

#include <optional>
#include <string_view>

namespace vardel {

// What a detection event was: motion (motion mode), a confirmed person, or sustained motion the person
// check could not confirm. Selects the photo caption and the status shown.
enum class EventKind { motion, person, unconfirmedMotion };

constexpr std::string_view rawValue(EventKind kind)
{
    switch (kind) {
    case EventKind::motion:
        return "motion";
    case EventKind::person:
        return "person";
    case EventKind::unconfirmedMotion:
        return "unconfirmedMotion";
    }
    return "motion";
}

constexpr std::optional<EventKind> eventKindFromRaw(std::string_view raw)
{
    for (EventKind kind : { EventKind::motion, EventKind::person, EventKind::unconfirmedMotion })
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

} // namespace vardel
