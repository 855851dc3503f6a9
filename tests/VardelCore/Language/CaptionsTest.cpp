#include "Captions.h"

#include "L.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

namespace vardel {
namespace {

    // 2025-03-01 14:05:09 UTC (São Paulo is UTC-3 with no daylight saving then).
    constexpr double kEvent = 1740837909.0;
    // ICU puts a narrow no-break space (U+202F) between the time and the day period in en_US.
    const std::string kNNBSP = "\u202F";

    // Pins the current language and restores it afterwards.
    class CaptionsTest : public ::testing::Test {
    protected:
        void TearDown() override { L::setLanguage(m_saved); }

    private:
        AppLanguage m_saved = L::language();
    };

    struct FormatCase {
        const char* name;
        AppLanguage language;
        std::string hourMinute, time, full, dayTime;
    };

    class TimeFormatTest : public ::testing::TestWithParam<FormatCase> { };

    TEST_P(TimeFormatTest, EachFormatFollowsTheLanguagesHourCycleAndOrder)
    {
        const FormatCase& c = GetParam();
        EXPECT_EQ(Captions::hourMinute(kEvent, c.language, "UTC"), c.hourMinute);
        EXPECT_EQ(Captions::time(kEvent, c.language, "UTC"), c.time);
        EXPECT_EQ(Captions::full(kEvent, c.language, "UTC"), c.full);
        EXPECT_EQ(Captions::dayTime(kEvent, c.language, "UTC"), c.dayTime);
    }

    INSTANTIATE_TEST_SUITE_P(Languages, TimeFormatTest,
        ::testing::Values(
            FormatCase { "en", AppLanguage::en, "2:05" + kNNBSP + "PM", "2:05:09" + kNNBSP + "PM",
                "3/1/2025, 2:05:09" + kNNBSP + "PM", "Mar 1, 2:05" + kNNBSP + "PM" },
            FormatCase {
                "ptBR", AppLanguage::ptBR, "14:05", "14:05:09", "01/03/2025, 14:05:09", "1 de mar., 14:05" },
            FormatCase { "es", AppLanguage::es, "14:05", "14:05:09", "1/3/2025, 14:05:09", "1 mar, 14:05" }),
        [](const auto& testInfo) { return std::string(testInfo.param.name); });

    TEST(TimeFormatEdgeTest, ZonesCutSecondsMidnightAndNotANumber)
    {
        EXPECT_EQ(Captions::hourMinute(kEvent, AppLanguage::ptBR, "America/Sao_Paulo"), "11:05");
        EXPECT_EQ(Captions::logStamp(kEvent, "Asia/Tokyo"), "2025-03-01 23:05:09");
        // Seconds are cut, not rounded; 24-hour texts start the day at 00, never 24.
        EXPECT_EQ(Captions::logStamp(kEvent + 0.999, "UTC"), "2025-03-01 14:05:09");
        constexpr double midnight = 1740873630.0; // 2025-03-02 00:00:30 UTC
        EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::ptBR, "UTC"), "00:00");
        EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::en, "UTC"), "12:00" + kNNBSP + "AM");
        EXPECT_EQ(Captions::hourMinute(std::nan(""), AppLanguage::en, "UTC"), "");
        EXPECT_EQ(Captions::logStamp(std::numeric_limits<double>::infinity(), "UTC"), "");
    }

    TEST(TimeZoneTest, TheHostZoneIsReadOnEveryCall)
    {
        test::ScopedZone zone("America/Sao_Paulo");
        EXPECT_EQ(Captions::hourMinute(kEvent, AppLanguage::es), "11:05");
        zone.set("Asia/Tokyo");
        EXPECT_EQ(Captions::logStamp(kEvent), "2025-03-01 23:05:09");
    }

    TEST_F(CaptionsTest, CaptionsUseTheCurrentLanguageAndItsHourCycle)
    {
        L::setLanguage(AppLanguage::en);
        EXPECT_EQ(
            Captions::alert(EventKind::person, kEvent, "UTC"), "Person detected · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(Captions::alert(EventKind::unconfirmedMotion, kEvent, "UTC"),
            "Motion, no person confirmed · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(Captions::clipFailed(kEvent, "UTC"),
            "The video from 2:05" + kNNBSP + "PM couldn't be saved. The photo is on your computer.");

        L::setLanguage(AppLanguage::ptBR);
        EXPECT_EQ(Captions::alert(EventKind::motion, kEvent, "UTC"), "Movimento detectado · 14:05");
        EXPECT_EQ(Captions::clip(kEvent, "UTC"), "Vídeo · 14:05");
        EXPECT_EQ(Captions::logStamp(kEvent, "UTC"), "2025-03-01 14:05:09") << "whatever the language";

        L::setLanguage(AppLanguage::es);
        EXPECT_EQ(Captions::brandAndTime(K::tgTest, kEvent, "UTC"),
            "Brisko: alerta de prueba · 14:05. Tus alertas llegarán aquí.");
        EXPECT_EQ(Captions::fmt("jmm", kEvent, std::nullopt, "UTC"), "14:05");
        EXPECT_EQ(Captions::fmt("jmm", kEvent, AppLanguage::en, "UTC"), "2:05" + kNNBSP + "PM");
    }

    struct DiagnosticsCase {
        const char* name;
        EventKind kind;
        double level;
        std::optional<bool> screenLocked;
        const char* expected; // after the time
    };

    class DiagnosticsTest : public ::testing::TestWithParam<DiagnosticsCase> { };

    TEST_P(DiagnosticsTest, OneLineWithRoundedPercentAndLockState)
    {
        const DiagnosticsCase& c = GetParam();
        EXPECT_EQ(Captions::diagnostics(c.kind, kEvent, c.level, c.screenLocked, "UTC"),
            "event " + std::string(c.name) + " at 2025-03-01 14:05:09 " + c.expected);
    }

    INSTANTIATE_TEST_SUITE_P(Levels, DiagnosticsTest,
        ::testing::Values(
            DiagnosticsCase { "person", EventKind::person, 0.07, false, "area=7% screen_locked=no" },
            DiagnosticsCase { "motion", EventKind::motion, 0.125, true, "area=13% screen_locked=yes" },
            DiagnosticsCase { "unconfirmedMotion", EventKind::unconfirmedMotion, -0.004, std::nullopt,
                "area=0% screen_locked=?" }),
        [](const auto& testInfo) { return std::string(testInfo.param.name); });

    TEST(DiagnosticsTest, ALevelThatIsNotANumberShowsAQuestionMark)
    {
        EXPECT_NE(
            Captions::diagnostics(EventKind::motion, kEvent, std::nan(""), false, "UTC").find(" area=?% "),
            std::string::npos);
    }

} // namespace
} // namespace vardel
