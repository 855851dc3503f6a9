#include "StatusLines.h"
#include "Captions.h"
#include "L.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    constexpr double kSince = 1'760'000'000; // protection switched on
    std::string hm(double at) { return Captions::hourMinute(at, AppLanguage::en); }
    std::string day(double at) { return Captions::dayTime(at, AppLanguage::en); }

    using In = StatusLines::Input;
    using Link = StatusLines::Link;
    constexpr Mode kOn = Mode::monitor;

    TEST(StatusLines, ControlAndContextLines)
    {
        L::setLanguage(AppLanguage::en);
        const std::string onSince = "Protection on since " + hm(kSince);
        struct Case {
            std::string name;
            In input;
            std::string control, symbol, primary, secondary;
            Link link = Link::viewPhoto;
        };
        const Case cases[] = {
            { "OnSinceNoEvent", In { .mode = kOn, .monitorSince = kSince }, onSince, "clock",
                "No alerts since " + hm(kSince), "Telegram not set up", Link::none },
            { "PhotoWaitsWhileOffline",
                In { .mode = kOn,
                    .monitorSince = kSince,
                    .lastEvent = kSince + 900,
                    .photoPending = true,
                    .telegramOK = false,
                    .queue = 1 },
                onSince, "paperplane", "Photo saved · it will be sent when the connection is back",
                "Telegram unreachable · 1 waiting" },
            { "PhotoSent",
                In { .mode = kOn,
                    .monitorSince = kSince,
                    .lastEvent = kSince + 900,
                    .lastPhotoSentAt = kSince + 960,
                    .telegramOK = true,
                    .onAC = true },
                onSince, "checkmark.circle.fill", "Photo sent to Telegram at " + hm(kSince + 960),
                "Telegram connected · Plugged in" },
            // A photo that could not be written is not "being sent" for the rest of the run.
            { "PhotoLostShowsTheAlertTime",
                In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince + 900 }, onSince, "clock",
                "Last alert: " + day(kSince + 900), "Telegram not set up" },
            { "EventBeforeThisRunIsNotRecent",
                In { .mode = kOn, .monitorSince = kSince, .lastEvent = kSince - 1, .photoPending = true },
                onSince, "clock", "No alerts since " + hm(kSince), "Telegram not set up" },
            { "OffAfterAnEventOnBattery", In { .lastEvent = kSince, .chatLabel = "Home", .onAC = false },
                "Protection off", "clock", "Last alert: " + day(kSince), "Telegram: Home · On battery" },
            { "CameraRefused", In { .mode = kOn, .lastEvent = kSince, .permissionDenied = true },
                "Protection on", "clock", "Last alert: " + day(kSince), "Telegram not set up",
                Link::cameraHelp },
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            In input = c.input;
            input.now = kSince + 3600;
            const StatusLines lines = StatusLines::make(input);
            EXPECT_EQ(lines.control, c.control);
            EXPECT_EQ(lines.symbol, c.symbol);
            EXPECT_EQ(lines.primary, c.primary);
            EXPECT_EQ(lines.secondary, c.secondary);
            EXPECT_EQ(lines.link, c.link);
        }
    }

    // The person chip shows for ten seconds, not while the area is edited; a format note goes first.
    TEST(StatusLines, PictureNote)
    {
        L::setLanguage(AppLanguage::en);
        using Note = StatusLines::Note;
        const std::tuple<double, bool, bool, Note> cases[] = {
            { 9, false, false, Note::personChip },
            { 10, false, false, Note::none },
            { 1, true, false, Note::none },
            { 1, false, true, Note::format },
        };
        for (const auto& [personAge, editing, format, note] : cases) {
            const In input { .personAt = kSince - personAge,
                .hasPersonBoxes = true,
                .editingArea = editing,
                .formatInfo = format ? std::optional<std::string>("format") : std::nullopt,
                .now = kSince };
            const StatusLines lines = StatusLines::make(input);
            EXPECT_EQ(lines.note, note) << personAge << " s ago, editing " << editing;
            if (note == Note::personChip)
                EXPECT_EQ(lines.noteText, "Person · " + Captions::time(*input.personAt, AppLanguage::en));
        }
    }

} // namespace
} // namespace vardel
