#include "Captions.h"

#include "L.h"
#include "ScopedZone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vardel;

// 2025-03-01 14:05:09 UTC (São Paulo is UTC-3 with no daylight saving then).
constexpr double kEvent = 1740837909.0;
// ICU puts a narrow no-break space (U+202F) between the time and the day period in en_US.
const std::string kPM = "\u202FPM";

TEST(Captions, FollowTheLanguageAndTheZoneCutSecondsSkipNotANumberAndDiagnoseOnOneLine)
{
    const std::tuple<AppLanguage, std::string, std::string, std::string, std::string> rows[] = {
        { AppLanguage::en, "2:05" + kPM, "2:05:09" + kPM, "3/1/2025, 2:05:09" + kPM, "Mar 1, 2:05" + kPM },
        { AppLanguage::ptBR, "14:05", "14:05:09", "01/03/2025, 14:05:09", "1 de mar., 14:05" },
        { AppLanguage::es, "14:05", "14:05:09", "1/3/2025, 14:05:09", "1 mar, 14:05" },
    };
    for (const auto& [language, hourMinute, seconds, full, dayTime] : rows) {
        SCOPED_TRACE(language.rawValue());
        EXPECT_EQ(Captions::hourMinute(kEvent, language, "UTC"), hourMinute);
        EXPECT_EQ(Captions::time(kEvent, language, "UTC"), seconds);
        EXPECT_EQ(Captions::full(kEvent, language, "UTC"), full);
        EXPECT_EQ(Captions::dayTime(kEvent, language, "UTC"), dayTime);
    }
    EXPECT_EQ(Captions::hourMinute(kEvent, AppLanguage::ptBR, "America/Sao_Paulo"), "11:05");
    // Without a zone, the host's is read on every call.
    test::ScopedZone zone("America/Sao_Paulo");
    EXPECT_EQ(Captions::hourMinute(kEvent, AppLanguage::es), "11:05");
    zone.set("Asia/Tokyo");
    EXPECT_EQ(Captions::logStamp(kEvent), "2025-03-01 23:05:09");
    // Seconds are cut, not rounded; 24-hour texts start the day at 00, never 24.
    EXPECT_EQ(Captions::logStamp(kEvent + 0.999, "UTC"), "2025-03-01 14:05:09");
    constexpr double midnight = 1740873630.0; // 2025-03-02 00:00:30 UTC
    EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::ptBR, "UTC"), "00:00");
    EXPECT_EQ(Captions::hourMinute(midnight, AppLanguage::en, "UTC"), "12:00\u202FAM");
    EXPECT_EQ(Captions::hourMinute(std::nan(""), AppLanguage::en, "UTC"), "");
    EXPECT_EQ(Captions::logStamp(std::numeric_limits<double>::infinity(), "UTC"), "");

    L::setLanguage(AppLanguage::en);
    EXPECT_EQ(Captions::alert(EventKind::person, kEvent, "UTC"), "Person detected · 2:05" + kPM);
    EXPECT_EQ(Captions::alert(EventKind::unconfirmedMotion, kEvent, "UTC"),
        "Motion, no person confirmed · 2:05" + kPM);
    EXPECT_EQ(Captions::clipFailed(kEvent, "UTC"),
        "The video from 2:05" + kPM + " couldn't be saved. The photo is on your computer.");

    L::setLanguage(AppLanguage::ptBR);
    EXPECT_EQ(Captions::alert(EventKind::motion, kEvent, "UTC"), "Movimento detectado · 14:05");
    EXPECT_EQ(Captions::clip(kEvent, "UTC"), "Vídeo · 14:05");
    EXPECT_EQ(Captions::logStamp(kEvent, "UTC"), "2025-03-01 14:05:09") << "whatever the language";

    L::setLanguage(AppLanguage::es);
    EXPECT_EQ(Captions::brandAndTime(K::tgTest, kEvent, "UTC"),
        "Brisko: alerta de prueba · 14:05. Tus alertas llegarán aquí.");
    EXPECT_EQ(Captions::fmt("jmm", kEvent, std::nullopt, "UTC"), "14:05");
    EXPECT_EQ(Captions::fmt("jmm", kEvent, AppLanguage::en, "UTC"), "2:05" + kPM);
    L::setLanguage(AppLanguage::en);

    const std::tuple<EventKind, double, std::optional<bool>, std::string> diagnostics[] = {
        { EventKind::person, 0.07, false, "person at 2025-03-01 14:05:09 area=7% screen_locked=no" },
        { EventKind::motion, 0.125, true, "motion at 2025-03-01 14:05:09 area=13% screen_locked=yes" },
        { EventKind::unconfirmedMotion, -0.004, std::nullopt,
            "unconfirmedMotion at 2025-03-01 14:05:09 area=0% screen_locked=?" },
        { EventKind::motion, std::nan(""), false, "motion at 2025-03-01 14:05:09 area=?% screen_locked=no" },
    };
    for (const auto& [kind, level, locked, expected] : diagnostics)
        EXPECT_EQ(Captions::diagnostics(kind, kEvent, level, locked, "UTC"), "event " + expected);
}
