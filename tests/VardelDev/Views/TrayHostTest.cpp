#include "DesktopShell.h"
#include "L.h"
#include "PrivateBus.h"
#include "ViewHarness.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    // Under trayer, the icon is embedded, changes look with the state, and its menu holds the items in order.
    // The check below runs in a child on that display, on a bus without a StatusNotifier host.
    TEST(TrayHost, IconMenuAndLooksUnderARealTray)
    {
        if (!PrivateBus::onPath("xvfb-run") || !PrivateBus::onPath("trayer"))
            GTEST_SKIP() << "xvfb-run and trayer are needed (apt-get install xvfb trayer)";
        PrivateBus bus;
        const auto run = bus.run(
            { "xvfb-run", "-a", "-s", "-screen 0 1024x768x24", "sh", "-c", "trayer & exec \"$0\" \"$@\"",
                PrivateBus::self(), "--gtest_also_run_disabled_tests", "--gtest_filter=TrayHostChild.*" },
            { "QT_QPA_PLATFORM=xcb" });
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    }

    TEST(TrayHostChild, DISABLED_InsideTheXServer)
    {
        L::setLanguage(AppLanguage::en);
        ASSERT_TRUE(runUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10)) << "no tray host";
        ViewModel view;
        DesktopShell::Options options;
        options.defaults = view.defaults;
        DesktopShell shell(view.model, std::move(options));
        shell.start();
        QSystemTrayIcon& tray = shell.tray();
        EXPECT_TRUE(runUntil([&] { return tray.geometry().width() > 0; }, 10)) << "the icon was not embedded";

        EXPECT_EQ(shell.iconState(), MenuBarState::off);
        const qint64 offIcon = tray.icon().cacheKey();
        shell.updateIcon();
        EXPECT_EQ(tray.icon().cacheKey(), offIcon) << "redrawn without a change of state";
        EXPECT_EQ(tray.toolTip().toStdString(), "Brisko: " + L::t(K::stOff));

        view.model.toggleMonitoring();
        shell.updateIcon();
        EXPECT_EQ(shell.iconState(), MenuBarState::protecting);
        EXPECT_NE(tray.icon().cacheKey(), offIcon);
        const QImage image = tray.icon().pixmap(64, 64).toImage();
        QColor opaque; // the first fully opaque pixel's
        for (int y = 0; y < image.height() && !opaque.isValid(); ++y)
            for (int x = 0; x < image.width() && !opaque.isValid(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255)
                    opaque = image.pixelColor(x, y);
        EXPECT_EQ(opaque.rgb(), QColor::fromRgbF(0.1f, 0.66f, 0.58f).rgb());

        // The "protection on" text waits in the outbox: nothing listens at the Bot API's address.
        ASSERT_TRUE(runUntil([&] { return view.model.queue() == 1; }, 10));
        emit shell.trayMenu().aboutToShow();
        std::vector<std::string> texts;
        for (QAction* action : shell.trayMenu().actions())
            texts.push_back(action->isSeparator() ? "---" : action->text().toStdString());
        EXPECT_EQ(texts,
            (std::vector<std::string> { "Brisko: " + view.model.presentation().title,
                L::t(K::mnPending, { "1" }), "---", "Open Brisko Window", "Stop protection", "---",
                "Quit Brisko" }));
    }

} // namespace
} // namespace vardel::test
