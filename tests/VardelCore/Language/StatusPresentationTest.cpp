#include "StatusPresentation.h"
#include "MenuBarState.h"

#include "L.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    constexpr double kNow = 1740837909.0; // 2025-03-01 14:05:09 UTC
    using Tone = StatusPresentation::Tone;
    using Kind = Phase::Kind;

    TEST(StatusPresentation, TheFirstMatchingRowDecidesTheHeader)
    {
        const std::optional<std::pair<EventKind, double>> none;
        const struct {
            const char* name;
            Kind phase;
            std::optional<double> monitorSince;
            bool areaIsFull;
            std::optional<std::pair<EventKind, double>> lastEvent;
            Tone tone;
            std::string title, subtitle;
        } rows[] = {
            { "off", Kind::off, {}, true, none, Tone::off, "Unprotected.",
                "The camera is off. Nothing is recorded or sent." },
            { "failure shown unchanged", Kind::failed, {}, true, none, Tone::problem, "Attention.",
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
            { "future event", Kind::monitoring, {}, true, std::pair(EventKind::motion, kNow + 5),
                Tone::motion, "Motion detected.", "At 2:05\u202FPM. Protection stays on." },
            { "unconfirmed motion", Kind::monitoring, {}, true, std::pair(EventKind::unconfirmedMotion, kNow),
                Tone::motion, "Motion detected.",
                "No person confirmed, at 2:05\u202FPM. Protection stays on." },
            { "since unknown", Kind::monitoring, {}, false, none, Tone::protected_, "Protected.",
                "Watching the selected area." },
        };
        for (const auto& row : rows) {
            const Phase phase
                = row.phase == Kind::failed ? Phase::failed("Camera unplugged") : Phase::of(row.phase);
            const auto header = StatusPresentation::make(
                { phase, row.monitorSince, row.areaIsFull, row.lastEvent, kNow }, "UTC");
            EXPECT_EQ(header.tone, row.tone) << row.name;
            EXPECT_EQ(header.title, row.title) << row.name;
            EXPECT_EQ(header.subtitle, row.subtitle) << row.name;
        }
        EXPECT_EQ(StatusPresentation::make({ Phase::failed("x"), {}, true, {}, kNow }).accessibilityLabel(),
            "State: Attention. x");
    }

    TEST(StatusPresentation, TheFirstMatchingRuleDecidesTheIcon)
    {
        const Phase monitoring = Phase::of(Kind::monitoring);
        const struct {
            const char* name;
            Mode mode;
            Phase phase;
            std::optional<double> lastEvent;
            MenuBarState expected;
        } rows[] = {
            { "failure while off is off", Mode::off, Phase::failed("x"), {}, MenuBarState::off },
            { "failure while previewing", Mode::preview, Phase::failed("x"), {}, MenuBarState::problem },
            { "preview", Mode::preview, Phase::of(Kind::preview), kNow, MenuBarState::preview },
            { "starting is protecting", Mode::monitor, Phase::of(Kind::starting), {},
                MenuBarState::protecting },
            { "event of 59 s", Mode::monitor, monitoring, kNow - 59, MenuBarState::detected },
            { "event of 60 s", Mode::monitor, monitoring, kNow - 60, MenuBarState::protecting },
            { "future event", Mode::monitor, monitoring, kNow + 3, MenuBarState::protecting },
        };
        for (const auto& row : rows)
            EXPECT_EQ(MenuBar::make(row.mode, row.phase, row.lastEvent, kNow), row.expected) << row.name;
    }

} // namespace
} // namespace vardel
