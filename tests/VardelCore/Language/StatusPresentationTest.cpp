#include "StatusPresentation.h"
#include "MenuBarState.h"

#include "L.h"

#include <gtest/gtest.h>

using namespace vardel;

constexpr double kNow = 1740837909.0; // 2025-03-01 14:05:09 UTC
using Tone = StatusPresentation::Tone;
using Kind = Phase::Kind;
using Time = std::optional<double>;
using Event = std::optional<std::pair<EventKind, double>>;

TEST(StatusPresentation, TheFirstMatchingRowDecidesTheHeaderAndTheIcon)
{
    const std::tuple<const char*, Kind, Time, bool, Event, Tone, const char*, const char*> headers[] = {
        { "off", Kind::off, {}, true, {}, Tone::off, "Unprotected.",
            "The camera is off. Nothing is recorded or sent." },
        { "failure shown unchanged", Kind::failed, {}, true, {}, Tone::problem, "Attention.",
            "Camera unplugged" },
        { "person almost ten minutes old", Kind::monitoring, kNow - 3600, true,
            std::pair(EventKind::person, kNow - 599), Tone::person, "Person detected.",
            "At 1:55\u202FPM. Protection stays on." },
        { "person ten minutes old is gone", Kind::monitoring, kNow - 3600, false,
            std::pair(EventKind::person, kNow - 600), Tone::protected_, "Protected.",
            "Watching the selected area since 1:05\u202FPM." },
        { "event from an earlier protection", Kind::monitoring, kNow - 10, true,
            std::pair(EventKind::person, kNow - 11), Tone::protected_, "Protected.",
            "Watching the whole view since 2:04\u202FPM." },
        { "future event", Kind::monitoring, {}, true, std::pair(EventKind::motion, kNow + 5), Tone::motion,
            "Motion detected.", "At 2:05\u202FPM. Protection stays on." },
        { "unconfirmed motion", Kind::monitoring, {}, true, std::pair(EventKind::unconfirmedMotion, kNow),
            Tone::motion, "Motion detected.", "No person confirmed, at 2:05\u202FPM. Protection stays on." },
        { "since unknown", Kind::monitoring, {}, false, {}, Tone::protected_, "Protected.",
            "Watching the selected area." },
    };
    for (const auto& [name, kind, since, areaIsFull, lastEvent, tone, title, subtitle] : headers) {
        const Phase phase = kind == Kind::failed ? Phase::failed("Camera unplugged") : Phase::of(kind);
        const auto header = StatusPresentation::make({ phase, since, areaIsFull, lastEvent, kNow }, "UTC");
        EXPECT_EQ(std::tie(header.tone, header.title, header.subtitle), std::tie(tone, title, subtitle))
            << name;
    }
    EXPECT_EQ(StatusPresentation::make({ Phase::failed("x"), {}, true, {}, kNow }).accessibilityLabel(),
        "State: Attention. x");

    const Phase monitoring = Phase::of(Kind::monitoring);
    const std::tuple<const char*, Mode, Phase, Time, MenuBarState> icons[] = {
        { "failure while off is off", Mode::off, Phase::failed("x"), {}, MenuBarState::off },
        { "failure while previewing", Mode::preview, Phase::failed("x"), {}, MenuBarState::problem },
        { "preview", Mode::preview, Phase::of(Kind::preview), kNow, MenuBarState::preview },
        { "starting is protecting", Mode::monitor, Phase::of(Kind::starting), {}, MenuBarState::protecting },
        { "event of 59 s", Mode::monitor, monitoring, kNow - 59, MenuBarState::detected },
        { "event of 60 s", Mode::monitor, monitoring, kNow - 60, MenuBarState::protecting },
        { "future event", Mode::monitor, monitoring, kNow + 3, MenuBarState::protecting },
    };
    for (const auto& [name, mode, phase, lastEvent, expected] : icons)
        EXPECT_EQ(MenuBar::make(mode, phase, lastEvent, kNow), expected) << name;
}
