#include "DesktopShell.h"
#include "L.h"
#include "PrivateBus.h"
#include "ViewHarness.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    // GIVEN an X server with trayer as the tray host WHEN the application runs THEN its icon is embedded,
    // changes look with the state, and its menu holds the items in order. Runs the check below in a child
    // process on that display, on a bus without a StatusNotifier host (the XEmbed tray is the one).
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

    std::vector<std::string> menuTexts(QMenu& menu)
    {
        emit menu.aboutToShow();
        std::vector<std::string> texts;
        for (QAction* action : menu.actions())
            texts.push_back(action->isSeparator() ? "---" : action->text().toStdString());
        return texts;
    }

    QColor opaqueColour(const QIcon& icon)
    {
        const QImage image = icon.pixmap(64, 64).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255)
                    return image.pixelColor(x, y);
        return {};
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
        EXPECT_EQ(opaqueColour(tray.icon()).rgb(), QColor::fromRgbF(0.1f, 0.66f, 0.58f).rgb());

        EXPECT_EQ(menuTexts(shell.trayMenu()),
            (std::vector<std::string> { "Brisko: " + view.model.presentation().title, "---",
                "Open Brisko Window", "Stop protection", "---", "Quit Brisko" }));
    }

} // namespace
} // namespace vardel::test
