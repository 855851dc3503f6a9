#include "Captions.h"

#include "L.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

namespace vardel {
namespace {

    // 2025-03-01 14:05:09 UTC (a Saturday; São Paulo is UTC-3 with no daylight saving then).
    constexpr double kEvent = 1740837909.0;
    // ICU puts a narrow no-break space (U+202F) between the time and the day period in en_US.
    const std::string kNNBSP = "\u202F";

    // Pins the current language and restores it afterwards.
    class CaptionsTest : public ::testing::Test {
    protected:
        void SetUp() override { m_saved = L::language(); }
        void TearDown() override { L::setLanguage(m_saved); }

    private:
        AppLanguage m_saved = AppLanguage::en;
    };

    struct FormatCase {
        AppLanguage language;
        std::string hourMinute;
        std::string time;
        std::string full;
        std::string dayTime;
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
        ::testing::Values(FormatCase { AppLanguage::en, "2:05" + kNNBSP + "PM", "2:05:09" + kNNBSP + "PM",
                              "3/1/2025, 2:05:09" + kNNBSP + "PM", "Mar 1, 2:05" + kNNBSP + "PM" },
            FormatCase { AppLanguage::ptBR, "14:05", "14:05:09", "01/03/2025, 14:05:09", "1 de mar., 14:05" },
            FormatCase { AppLanguage::es, "14:05", "14:05:09", "1/3/2025, 14:05:09", "1 mar, 14:05" }));

    TEST(TimeZoneTest, TimesAreShownInTheNamedZoneOrTheHostsCurrentOne)
    {
        EXPECT_EQ(Captions::hourMinute(kEvent, AppLanguage::ptBR, "America/Sao_Paulo"), "11:05");
        EXPECT_EQ(Captions::logStamp(kEvent, "Asia/Tokyo"), "2025-03-01 23:05:09");

        // The host zone is read on every call, so a change of TZ shows in the next text.
        const char* saved = std::getenv("TZ");
        std::string savedValue = saved ? saved : "";
        setenv("TZ", "America/Sao_Paulo", 1);
        tzset();
        std::string saoPaulo = Captions::hourMinute(kEvent, AppLanguage::es);
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        std::string tokyo = Captions::logStamp(kEvent);
        if (saved)
            setenv("TZ", savedValue.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        EXPECT_EQ(saoPaulo, "11:05");
        EXPECT_EQ(tokyo, "2025-03-01 23:05:09");
    }

    TEST(TimeFormatEdgeTest, SecondsAreCutNotRoundedAndMidnightIsZeroHour)
    {
        EXPECT_EQ(Captions::time(kEvent + 0.999, AppLanguage::es, "UTC"), "14:05:09");
        EXPECT_EQ(Captions::logStamp(kEvent + 0.999, "UTC"), "2025-03-01 14:05:09");
        // 2025-03-02 00:00:30 UTC: 24-hour texts start the day at 00, never 24.
        constexpr double midnight = 1740873630.0;
        EXPECT_EQ(Captions::logStamp(midnight, "UTC"), "2025-03-02 00:00:30");
        EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::ptBR, "UTC"), "00:00");
        EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::en, "UTC"), "12:00" + kNNBSP + "AM");
    }

    TEST(TimeFormatEdgeTest, ADateThatIsNotANumberGivesAnEmptyText)
    {
        EXPECT_EQ(Captions::hourMinute(std::nan(""), AppLanguage::en, "UTC"), "");
        EXPECT_EQ(Captions::logStamp(std::numeric_limits<double>::infinity(), "UTC"), "");
    }

    TEST_F(CaptionsTest, LogStampIgnoresTheLanguage)
    {
        for (AppLanguage language : AppLanguage::allCases()) {
            L::setLanguage(language);
            EXPECT_EQ(Captions::logStamp(kEvent, "UTC"), "2025-03-01 14:05:09");
        }
    }

    TEST_F(CaptionsTest, CaptionsUseTheCurrentLanguageAndItsHourCycle)
    {
        L::setLanguage(AppLanguage::en);
        std::string english = Captions::alert(EventKind::person, kEvent, "UTC");
        EXPECT_EQ(english, "Person detected · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(
            Captions::alert(EventKind::motion, kEvent, "UTC"), "Motion detected · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(Captions::alert(EventKind::unconfirmedMotion, kEvent, "UTC"),
            "Motion, no person confirmed · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(Captions::clip(kEvent, "UTC"), "Video · 2:05" + kNNBSP + "PM");
        EXPECT_EQ(Captions::clipFailed(kEvent, "UTC"),
            "The video from 2:05" + kNNBSP + "PM couldn't be saved. The photo is on your computer.");

        L::setLanguage(AppLanguage::ptBR);
        EXPECT_EQ(Captions::alert(EventKind::person, kEvent, "UTC"), "Pessoa detectada · 14:05");
        EXPECT_EQ(Captions::clip(kEvent, "UTC"), "Vídeo · 14:05");
        EXPECT_EQ(Captions::clipFailed(kEvent, "UTC"),
            "O vídeo das 14:05 não pôde ser salvo. A foto está no seu computador.");
        // A caption built before the switch keeps its language and hour cycle.
        EXPECT_EQ(english, "Person detected · 2:05" + kNNBSP + "PM");

        L::setLanguage(AppLanguage::es);
        EXPECT_EQ(Captions::alert(EventKind::unconfirmedMotion, kEvent, "UTC"),
            "Movimiento sin persona confirmada · 14:05");
    }

    TEST_F(CaptionsTest, LostPhotoAndBrandedTextsAreComposedInTheCurrentLanguage)
    {
        L::setLanguage(AppLanguage::en);
        EXPECT_EQ(Captions::withoutPhoto("Person detected · 14:05"),
            "Person detected · 14:05\n(no photo available)");
        EXPECT_EQ(Captions::brandAndTime(K::tgStarted, kEvent, "UTC"),
            "Brisko: protection on · 2:05" + kNNBSP + "PM");
        L::setLanguage(AppLanguage::es);
        EXPECT_EQ(Captions::brandAndTime(K::tgTest, kEvent, "UTC"),
            "Brisko: alerta de prueba · 14:05. Tus alertas llegarán aquí.");
        EXPECT_EQ(Captions::fmt("jmm", kEvent, std::nullopt, "UTC"), "14:05");
        EXPECT_EQ(Captions::fmt("jmm", kEvent, AppLanguage::en, "UTC"), "2:05" + kNNBSP + "PM");
    }

    struct DiagnosticsCase {
        EventKind kind;
        double level;
        std::optional<bool> screenLocked;
        std::string expected;
    };

    class DiagnosticsTest : public ::testing::TestWithParam<DiagnosticsCase> { };

    TEST_P(DiagnosticsTest, OneLineWithRoundedPercentAndLockState)
    {
        const DiagnosticsCase& c = GetParam();
        EXPECT_EQ(Captions::diagnostics(c.kind, kEvent, c.level, c.screenLocked, "UTC"), c.expected);
    }

    INSTANTIATE_TEST_SUITE_P(Levels, DiagnosticsTest,
        ::testing::Values(DiagnosticsCase { EventKind::person, 0.07, false,
                              "event person at 2025-03-01 14:05:09 area=7% screen_locked=no" },
            DiagnosticsCase { EventKind::motion, 0.125, true,
                "event motion at 2025-03-01 14:05:09 area=13% screen_locked=yes" },
            DiagnosticsCase { EventKind::unconfirmedMotion, 0.0, std::nullopt,
                "event unconfirmedMotion at 2025-03-01 14:05:09 area=0% screen_locked=?" },
            DiagnosticsCase { EventKind::motion, 1.0, false,
                "event motion at 2025-03-01 14:05:09 area=100% screen_locked=no" },
            DiagnosticsCase { EventKind::motion, 0.994, false,
                "event motion at 2025-03-01 14:05:09 area=99% screen_locked=no" },
            DiagnosticsCase { EventKind::motion, -0.004, false,
                "event motion at 2025-03-01 14:05:09 area=0% screen_locked=no" },
            DiagnosticsCase { EventKind::motion, std::nan(""), false,
                "event motion at 2025-03-01 14:05:09 area=?% screen_locked=no" },
            DiagnosticsCase { EventKind::motion, std::numeric_limits<double>::infinity(), false,
                "event motion at 2025-03-01 14:05:09 area=?% screen_locked=no" }));

    TEST(CaptionsThreadTest, FormattingFromSeveralThreadsGivesTheSameTexts)
    {
        // Each thread keeps its own formatters; run under TSan to catch shared ICU state.
        auto work = [](AppLanguage language, std::string expected, int* mismatches) {
            for (int i = 0; i < 200; ++i) {
                if (Captions::time(kEvent, language, "UTC") != expected)
                    ++*mismatches;
            }
        };
        int englishMismatches = 0;
        int portugueseMismatches = 0;
        std::thread english(work, AppLanguage::en, "2:05:09" + kNNBSP + "PM", &englishMismatches);
        std::thread portuguese(work, AppLanguage::ptBR, "14:05:09", &portugueseMismatches);
        english.join();
        portuguese.join();
        EXPECT_EQ(englishMismatches, 0);
        EXPECT_EQ(portugueseMismatches, 0);
    }

} // namespace
} // namespace vardel
