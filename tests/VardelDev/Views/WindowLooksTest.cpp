#include "CameraStage.h"
#include "L.h"
#include "MainWindow.h"
#include "PrivateBus.h"
#include "TextFit.h"
#include "ViewHarness.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    constexpr double kNow = 1'760'000'000;

    struct State {
        std::string name;
        Phase::Kind phase;
        StatusLines::Input lines;
        bool notes = false; // format note, notice and a newer release
    };

    MainWindow::Look lookOf(const State& state)
    {
        // The failure text is the camera refusal, in the language on show.
        const Phase phase = state.phase == Phase::Kind::failed
            ? Phase::failed(L::t(K::ntNoCameraPermission, { "Brisko" }))
            : Phase::of(state.phase);
        StatusLines::Input lines = state.lines;
        lines.now = kNow;
        MainWindow::Look look { .mode = lines.mode,
            .previewOn = lines.mode != Mode::off,
            .protecting = lines.mode == Mode::monitor };
        if (state.notes) {
            lines.formatInfo = L::t(K::fmtWaiting, { "1280×720" });
            look.notice = L::t(K::ntModePerson);
            look.update = Updates::Release { "10.20.30", "https://example.org/brisko.deb", std::nullopt };
        }
        std::optional<std::pair<EventKind, double>> event;
        if (lines.lastEvent)
            event = std::pair(EventKind::unconfirmedMotion, *lines.lastEvent);
        look.header = StatusPresentation::make({ phase, lines.monitorSince, false, event, kNow, 600 });
        look.lines = StatusLines::make(lines);
        return look;
    }

    using In = StatusLines::Input;
    const State kStates[] = {
        { "Off", Phase::Kind::off, In {} },
        { "MotionWithNotes", Phase::Kind::monitoring,
            In { .mode = Mode::monitor,
                .monitorSince = kNow - 3000,
                .lastEvent = kNow - 2,
                .photoPending = true,
                .telegramOK = false,
                .queue = 12,
                .onAC = false },
            true },
        { "CameraRefused", Phase::Kind::failed,
            In { .mode = Mode::preview,
                .lastEvent = kNow - 86400,
                .chatLabel = "Família Albuquerque de Vasconcelos",
                .permissionDenied = true } },
    };

    // GIVEN each state in each language WHEN the main window shows it at its default size THEN every label
    // and button shows its whole text; the screenshots are kept.
    TEST(WindowLooks, NoTextIsClipped)
    {
        ViewModel view;
        const std::string scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toStdString() + "x";
        for (AppLanguage language : AppLanguage::allCases()) {
            for (const State& state : kStates) {
                const std::string name
                    = "main-window-" + state.name + "-" + std::string(language.rawValue()) + "-" + scale;
                SCOPED_TRACE(name);
                L::setLanguage(language);
                MainWindow window(view.model);
                window.show();
                window.showLook(lookOf(state));
                window.resize(window.sizeHint());
                QCoreApplication::processEvents();
                expectTextsWhole(window, name);
            }
        }
    }

    TEST(WindowLooksScaled, NoTextIsClippedAtOneAndAHalf)
    {
        PrivateBus bus;
        const auto run
            = bus.run({ PrivateBus::self(), "--gtest_filter=WindowLooks.*" }, { "QT_SCALE_FACTOR=1.5" });
        EXPECT_EQ(run.status, 0) << run.output;
    }

    // Camera frames keep reaching the open window; with BRISKO_SCREENSHOT_DIR set, the window is kept there
    // as the README's screenshot.
    TEST(LivePictureOnScreen, FramesReachTheWindow)
    {
        if (!std::filesystem::exists(kStreetVideo))
            GTEST_SKIP() << "opencv-doc is not installed: " << kStreetVideo;
        L::setLanguage(AppLanguage::en);
        // For the README, the street cut to 16:9 as a webcam delivers it (no format note over the picture).
        const QByteArray folder = qgetenv("BRISKO_SCREENSHOT_DIR");
        const auto wide = std::filesystem::temp_directory_path() / "brisko-street-16x9.mkv";
        if (!folder.isEmpty() && PrivateBus::onPath("ffmpeg"))
            QProcess::execute("ffmpeg",
                { "-loglevel", "error", "-y", "-i", QString::fromStdString(kStreetVideo.string()), "-vf",
                    "crop=768:432,scale=1280:720", "-c:v", "mjpeg", "-q:v", "3",
                    QString::fromStdString(wide.string()) });
        ViewModel view(std::make_shared<MemorySecretStore>("1:token"),
            !folder.isEmpty() && std::filesystem::exists(wide) ? wide : kStreetVideo);
        MainWindow window(view.model);
        window.resize(window.sizeHint());
        window.show();
        view.model.toggleMonitoring();
        view.model.togglePreview();
        LivePicture& picture = window.stage().picture();
        ASSERT_TRUE(runUntil([&] { return !picture.image().isNull(); }, 20));
        for (int advances = 0; advances < 3; ++advances) { // frames keep coming, not one per resize
            const double last = picture.frameTime();
            ASSERT_TRUE(runUntil([&] { return picture.frameTime() > last; }, 5));
        }
        if (folder.isEmpty())
            return expectTextsWhole(window, "main-window");
        // The README's picture shows protection on, once the camera has settled.
        EXPECT_TRUE(runUntil([&] { return view.model.phase().kind == Phase::Kind::monitoring; }, 20));
        runUntil([] { return false; }, 0.3);
        EXPECT_TRUE(window.grab().save(QString(folder) + "/main-window.png"));
    }

} // namespace
} // namespace vardel::test
