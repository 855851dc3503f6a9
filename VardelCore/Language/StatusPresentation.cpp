#include "StatusPresentation.h"

#include "Captions.h"
#include "L.h"

namespace vardel {

namespace {

    // An event belongs in the header while it is younger than the window (or dated in the future after a
    // clock change) and not from an earlier period of protection.
    bool isRecent(const StatusPresentation::Input& input)
    {
        if (!input.lastEvent)
            return false;
        double at = input.lastEvent->second;
        if (input.now - at >= input.recentWindow)
            return false;
        return !input.monitorSince || at >= *input.monitorSince;
    }

} // namespace

StatusPresentation StatusPresentation::make(const Input& input, std::string_view zone)
{
    AppLanguage language = L::language();
    auto text = [language](K key, std::initializer_list<std::string_view> args = {}) {
        return L::t(key, language, args);
    };
    auto at = [&](double date) { return Captions::hourMinute(date, language, zone); };

    switch (input.phase.kind) {
    case Phase::Kind::off:
        return { Tone::off, "shield.slash", text(K::stOff), text(K::stOffSub) };
    case Phase::Kind::preview:
        return { Tone::preview, "eye", text(K::stPreview), text(K::stPreviewSub) };
    case Phase::Kind::starting:
        return { Tone::starting, "hourglass", text(K::stStarting), text(K::stStartingSub) };
    case Phase::Kind::failed:
        return { Tone::problem, "exclamationmark.triangle.fill", text(K::stProblem), input.phase.failure };
    case Phase::Kind::monitoring:
        break;
    }

    if (isRecent(input)) {
        auto [kind, time] = *input.lastEvent;
        switch (kind) {
        case EventKind::person:
            return { Tone::person, "person.fill.viewfinder", text(K::stPerson),
                text(K::stAtTime, { at(time) }) };
        case EventKind::motion:
            return { Tone::motion, "figure.walk", text(K::stMotion), text(K::stAtTime, { at(time) }) };
        case EventKind::unconfirmedMotion:
            return { Tone::motion, "figure.walk", text(K::stMotion),
                text(K::stMotionUnconfirmedSub, { at(time) }) };
        }
    }

    std::string subtitle = input.monitorSince
        ? text(input.areaIsFull ? K::stWatchFull : K::stWatchArea, { at(*input.monitorSince) })
        : text(input.areaIsFull ? K::stWatchFullNow : K::stWatchAreaNow);
    return { Tone::protected_, "checkmark.shield.fill", text(K::stProtected), std::move(subtitle) };
}

std::string StatusPresentation::accessibilityLabel() const { return L::t(K::stateA11y, { title, subtitle }); }

std::string_view rawValue(StatusPresentation::Tone tone)
{
    switch (tone) {
    case StatusPresentation::Tone::off:
        return "off";
    case StatusPresentation::Tone::preview:
        return "preview";
    case StatusPresentation::Tone::starting:
        return "starting";
    case StatusPresentation::Tone::protected_:
        return "protected";
    case StatusPresentation::Tone::person:
        return "person";
    case StatusPresentation::Tone::motion:
        return "motion";
    case StatusPresentation::Tone::problem:
        return "problem";
    }
    return "off";
}

} // namespace vardel
