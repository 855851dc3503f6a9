#include "Captions.h"
#include "L.h"
#include "StatusLines.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    constexpr double kSince = 1'760'000'000; // protection switched on
    std::string hm(double at) { return Captions::hourMinute(at, AppLanguage::en); }
    std::string day(double at) { return Captions::dayTime(at, AppLanguage::en); }
    const std::string kOnSince = "Protection on since " + hm(kSince);

    struct Case {
        std::string name;
        StatusLines::Input input;
        std::string control, symbol, primary, secondary;
        StatusLines::Link link = StatusLines::Link::viewPhoto;
    };

    class StatusLinesCase : public testing::TestWithParam<Case> { };

    TEST_P(StatusLinesCase, ControlAndContextLines)
    {
        L::setLanguage(AppLanguage::en);
        StatusLines::Input input = GetParam().input;
        input.now = kSince + 3600;
        const StatusLines lines = StatusLines::make(input);
        EXPECT_EQ(lines.control, GetParam().control);
        EXPECT_EQ(lines.symbol, GetParam().symbol);
        EXPECT_EQ(lines.primary, GetParam().primary);
        EXPECT_EQ(lines.secondary, GetParam().secondary);
        EXPECT_EQ(lines.link, GetParam().link);
    }

    using In = StatusLines::Input;
    constexpr Mode kOn = Mode::monitor;

    INSTANTIATE_TEST_SUITE_P(Cases, StatusLinesCase,
        testing::Values(
            Case { "OnSinceNoEvent", In { .mode = kOn, .monitorSince = kSince }, kOnSince, "clock",
                "No alerts since " + hm(kSince), "Telegram not set up", StatusLines::Link::none },
            Case { "PhotoWaitsWhileOffline",
                In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince + 900, .photoPending = true,
                    .telegramOK = false, .queue = 1 },
                kOnSince, "paperplane", "Photo saved · it will be sent when the connection is back",
                "Telegram unreachable · 1 waiting" },
            Case { "PhotoSent",
                In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince + 900, .lastPhotoSentAt = kSince + 960,
                    .telegramOK = true, .onAC = true },
                kOnSince, "checkmark.circle.fill", "Photo sent to Telegram at " + hm(kSince + 960),
                "Telegram connected · Plugged in" },
            // A photo that could not be written is not "being sent" for the rest of the run.
            Case { "PhotoLostShowsTheAlertTime", In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince + 900 },
                kOnSince, "clock", "Last alert: " + day(kSince + 900), "Telegram not set up" },
            Case { "EventBeforeThisRunIsNotRecent",
                In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince - 1, .photoPending = true }, kOnSince,
                "clock", "No alerts since " + hm(kSince), "Telegram not set up" },
            Case { "OffAfterAnEventOnBattery", In { .lastEvent = kSince, .chatLabel = "Home", .onAC = false },
                "Protection off", "clock", "Last alert: " + day(kSince), "Telegram: Home · On battery" },
            Case { "CameraRefused", In { .mode = kOn, .lastEvent = kSince, .permissionDenied = true },
                "Protection on", "clock", "Last alert: " + day(kSince), "Telegram not set up",
                StatusLines::Link::cameraHelp }),
        [](const auto& tested) { return tested.param.name; });

    struct NoteCase {
        std::string name;
        double personAge;
        bool editing;
        bool format;
        StatusLines::Note note;
    };

    class PictureNote : public testing::TestWithParam<NoteCase> { };

    TEST_P(PictureNote, ChipForTenSecondsUnlessEditingAndFormatNoteFirst)
    {
        L::setLanguage(AppLanguage::en);
        const NoteCase& c = GetParam();
        const In input { .personAt = kSince - c.personAge, .hasPersonBoxes = true, .editingArea = c.editing,
            .formatInfo = c.format ? std::optional<std::string>("format") : std::nullopt, .now = kSince };
        const StatusLines lines = StatusLines::make(input);
        EXPECT_EQ(lines.note, c.note);
        if (lines.note == StatusLines::Note::personChip) {
            EXPECT_EQ(lines.noteText, "Person · " + Captions::time(*input.personAt, AppLanguage::en));
        }
    }

    INSTANTIATE_TEST_SUITE_P(Cases, PictureNote,
        testing::Values(NoteCase { "PersonNineSecondsAgo", 9, false, false, StatusLines::Note::personChip },
            NoteCase { "PersonTenSecondsAgo", 10, false, false, StatusLines::Note::none },
            NoteCase { "WhileEditingTheArea", 1, true, false, StatusLines::Note::none },
            NoteCase { "FormatNoticeWins", 1, false, true, StatusLines::Note::format }),
        [](const auto& tested) { return tested.param.name; });

} // namespace
} // namespace vardel
