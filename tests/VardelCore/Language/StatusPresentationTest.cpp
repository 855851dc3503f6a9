#include "StatusPresentation.h"
#include "MenuBarState.h"

#include "L.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    constexpr double kNow = 1740837909.0; // 2025-03-01 14:05:09 UTC
    const std::string kNNBSP = "\u202F";
    const std::string kTwoFive = "2:05" + kNNBSP + "PM";
    const std::string kTwoFour = "2:04" + kNNBSP + "PM";
    const std::string kOneFiftyFive = "1:55" + kNNBSP + "PM";
    const std::string kOneFive = "1:05" + kNNBSP + "PM";
    using Tone = StatusPresentation::Tone;

    const Phase kMonitoring { Phase::Kind::monitoring, {} };

    struct HeaderCase {
        std::string name;
        Phase::Kind phase;
        std::optional<double> monitorSince;
        bool areaIsFull;
        std::optional<std::pair<EventKind, double>> lastEvent;
        Tone tone;
        std::string title;
        std::string subtitle;
    };

    void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

    class HeaderTest : public ::testing::TestWithParam<HeaderCase> {
    protected:
        void SetUp() override { L::setLanguage(AppLanguage::en); }
    };

    TEST_P(HeaderTest, FirstMatchingRowDecides)
    {
        const HeaderCase& c = GetParam();
        Phase phase = c.phase == Phase::Kind::failed ? Phase::failed("Camera unplugged") : Phase::of(c.phase);
        StatusPresentation header
            = StatusPresentation::make({ phase, c.monitorSince, c.areaIsFull, c.lastEvent, kNow }, "UTC");
        EXPECT_EQ(header.tone, c.tone);
        EXPECT_EQ(header.title, c.title);
        EXPECT_EQ(header.subtitle, c.subtitle);
    }

    std::vector<HeaderCase> headerCases()
    {
        return {
            HeaderCase { "Off", Phase::Kind::off, {}, true, {}, Tone::off, "Unprotected.",
                "The camera is off. Nothing is recorded or sent." },
            HeaderCase { "FailureShownUnchanged", Phase::Kind::failed, {}, true, {}, Tone::problem,
                "Attention.", "Camera unplugged" },
            HeaderCase { "PersonAlmostTenMinutesOld", Phase::Kind::monitoring, kNow - 3600, true,
                { { EventKind::person, kNow - 599 } }, Tone::person, "Person detected.",
                "At " + kOneFiftyFive + ". Protection stays on." },
            HeaderCase { "PersonTenMinutesOldIsGone", Phase::Kind::monitoring, kNow - 3600, false,
                { { EventKind::person, kNow - 600 } }, Tone::protected_, "Protected.",
                "Watching the selected area since " + kOneFive + "." },
            HeaderCase { "EventFromEarlierProtectionNeverShows", Phase::Kind::monitoring, kNow - 10, true,
                { { EventKind::person, kNow - 11 } }, Tone::protected_, "Protected.",
                "Watching the whole view since " + kTwoFour + "." },
            HeaderCase { "FutureEventShows", Phase::Kind::monitoring, {}, true,
                { { EventKind::motion, kNow + 5 } }, Tone::motion, "Motion detected.",
                "At " + kTwoFive + ". Protection stays on." },
            HeaderCase { "UnconfirmedMotion", Phase::Kind::monitoring, {}, true,
                { { EventKind::unconfirmedMotion, kNow } }, Tone::motion, "Motion detected.",
                "No person confirmed, at " + kTwoFive + ". Protection stays on." },
            HeaderCase { "SinceUnknown", Phase::Kind::monitoring, {}, false, {}, Tone::protected_,
                "Protected.", "Watching the selected area." },
        };
    }

    INSTANTIATE_TEST_SUITE_P(States, HeaderTest, ::testing::ValuesIn(headerCases()),
        [](const auto& testInfo) { return testInfo.param.name; });

    TEST(HeaderTest, AccessibleTextJoinsTitleAndSubtitle)
    {
        L::setLanguage(AppLanguage::en);
        StatusPresentation header = StatusPresentation::make({ Phase::failed("x"), {}, true, {}, kNow });
        EXPECT_EQ(header.accessibilityLabel(), "State: Attention. x");
    }

    struct IconCase {
        std::string name;
        Mode mode;
        Phase phase;
        std::optional<double> lastEvent;
        MenuBarState expected;
    };

    void PrintTo(const IconCase& c, std::ostream* os) { *os << c.name; }

    class IconTest : public ::testing::TestWithParam<IconCase> { };

    TEST_P(IconTest, FirstMatchingRuleDecides)
    {
        const IconCase& c = GetParam();
        EXPECT_EQ(MenuBar::make(c.mode, c.phase, c.lastEvent, kNow), c.expected);
    }

    INSTANTIATE_TEST_SUITE_P(States, IconTest,
        ::testing::Values(
            IconCase { "FailureWhileOffIsOff", Mode::off, Phase::failed("x"), {}, MenuBarState::off },
            IconCase {
                "FailureWhilePreviewing", Mode::preview, Phase::failed("x"), {}, MenuBarState::problem },
            IconCase {
                "Preview", Mode::preview, Phase::of(Phase::Kind::preview), kNow, MenuBarState::preview },
            IconCase { "StartingIsProtecting", Mode::monitor, Phase::of(Phase::Kind::starting), {},
                MenuBarState::protecting },
            IconCase { "EventOf59s", Mode::monitor, kMonitoring, kNow - 59, MenuBarState::detected },
            IconCase { "EventOf60s", Mode::monitor, kMonitoring, kNow - 60, MenuBarState::protecting },
            IconCase { "FutureEvent", Mode::monitor, kMonitoring, kNow + 3, MenuBarState::protecting }),
        [](const auto& testInfo) { return testInfo.param.name; });

} // namespace
} // namespace vardel
