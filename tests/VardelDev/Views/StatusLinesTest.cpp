#include "Captions.h"
#include "L.h"
#include "StatusLines.h"

#include <gtest/gtest.h>

#include <functional>

namespace vardel {
namespace {

    constexpr double kSince = 1'760'000'000; // protection switched on
    std::string hm(double at) { return Captions::hourMinute(at, AppLanguage::en); }

    struct Case {
        std::string name;
        std::function<void(StatusLines::Input&)> given;
        std::string control, symbol, primary, secondary;
        StatusLines::Link link = StatusLines::Link::none;
    };

    class StatusLinesCase : public testing::TestWithParam<Case> { };

    TEST_P(StatusLinesCase, ControlAndContextLines)
    {
        L::setLanguage(AppLanguage::en);
        StatusLines::Input input;
        input.now = kSince + 3600;
        GetParam().given(input);
        const StatusLines lines = StatusLines::make(input);
        EXPECT_EQ(lines.control, GetParam().control);
        EXPECT_EQ(lines.symbol, GetParam().symbol);
        EXPECT_EQ(lines.primary, GetParam().primary);
        EXPECT_EQ(lines.secondary, GetParam().secondary);
        EXPECT_EQ(lines.link, GetParam().link);
    }

    void protecting(StatusLines::Input& in)
    {
        in.mode = Mode::monitor;
        in.monitorSince = kSince;
    }

    INSTANTIATE_TEST_SUITE_P(Cases, StatusLinesCase,
        testing::Values(
            Case { "OnSinceNoEvent", protecting, "Protection on since " + hm(kSince), "clock",
                "No alerts since " + hm(kSince), "Telegram not set up" },
            Case { "PhotoWaitsWhileOffline",
                [](auto& in) {
                    protecting(in);
                    in.lastEvent = kSince + 900;
                    in.photoPending = true;
                    in.telegramOK = false;
                    in.queue = 1;
                },
                "Protection on since " + hm(kSince), "paperplane",
                "Photo saved · it will be sent when the connection is back", "Telegram unreachable · 1 waiting",
                StatusLines::Link::viewPhoto },
            Case { "PhotoSent",
                [](auto& in) {
                    protecting(in);
                    in.lastEvent = kSince + 900;
                    in.lastPhotoSentAt = kSince + 960;
                    in.telegramOK = true;
                    in.onAC = true;
                },
                "Protection on since " + hm(kSince), "checkmark.circle.fill", "Photo sent to Telegram at " + hm(kSince + 960),
                "Telegram connected · Plugged in", StatusLines::Link::viewPhoto },
            // A photo that could not be written is not "being sent" for the rest of the run.
            Case { "PhotoLostShowsTheAlertTime",
                [](auto& in) {
                    protecting(in);
                    in.lastEvent = kSince + 900;
                },
                "Protection on since " + hm(kSince), "clock",
                "Last alert: " + Captions::dayTime(kSince + 900, AppLanguage::en), "Telegram not set up",
                StatusLines::Link::viewPhoto },
            Case { "EventBeforeThisRunIsNotRecent",
                [](auto& in) {
                    protecting(in);
                    in.lastEvent = kSince - 1;
                    in.photoPending = true;
                },
                "Protection on since " + hm(kSince), "clock", "No alerts since " + hm(kSince), "Telegram not set up",
                StatusLines::Link::viewPhoto },
            Case { "OffAfterAnEventOnBattery",
                [](auto& in) {
                    in.lastEvent = kSince;
                    in.chatLabel = "Home";
                    in.onAC = false;
                },
                "Protection off", "clock", "Last alert: " + Captions::dayTime(kSince, AppLanguage::en),
                "Telegram: Home · On battery", StatusLines::Link::viewPhoto },
            Case { "CameraRefused",
                [](auto& in) {
                    in.mode = Mode::monitor;
                    in.permissionDenied = true;
                    in.lastEvent = kSince;
                },
                "Protection on", "clock", "Last alert: " + Captions::dayTime(kSince, AppLanguage::en),
                "Telegram not set up", StatusLines::Link::cameraHelp }),
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
        StatusLines::Input input;
        input.now = kSince;
        input.personAt = kSince - GetParam().personAge;
        input.hasPersonBoxes = true;
        input.editingArea = GetParam().editing;
        if (GetParam().format)
            input.formatInfo = "format";
        const StatusLines lines = StatusLines::make(input);
        EXPECT_EQ(lines.note, GetParam().note);
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
