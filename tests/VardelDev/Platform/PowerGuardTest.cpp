#include "PowerGuard.h"
#include "PowerSource.h"
#include "PrivateBus.h"
#include "ScreenLock.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <set>

using namespace vardel;
using test::PrivateBus;

// Runs the event loop, where logind's answers arrive (and finished requests are deleted, closing the
// descriptors of answers dropped), until `done` or 5 s.
template <typename Done> static bool eventually(Done done)
{
    for (QDeadlineTimer deadline(5000); !done() && !deadline.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

// One case, since each further one would start the mocks again: a private bus stands in for the system
// bus, with logind (session "c1") and UPower mocked by python3-dbusmock; a second bus has no logind.
TEST(PowerGuard, LocksAreHeldOnlyWhileProtectingFollowTheServicesAndAHungLogindNeverHoldsUpTheCaller)
{
    if (!PrivateBus::onPath("dbus-daemon") || !PrivateBus::onPath("gdbus")
        || std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
        GTEST_SKIP() << "needs dbus-daemon, gdbus and python3-dbusmock";
    PrivateBus bus;
    for (const char* mock : { "logind", "upower" })
        bus.start({ "/usr/bin/python3", "-m", "dbusmock", "--template", mock });
    ASSERT_TRUE(bus.waitForName("org.freedesktop.login1") && bus.waitForName("org.freedesktop.UPower"));
    const auto connection = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "mocks");
    const auto call = [&](const QString& path, const QString& interface, const QString& method,
                          const QVariantList& arguments, const QString& service = "org.freedesktop.login1") {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return connection.call(message);
    };
    call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
        { "c1", "seat0", 1000u, "ana", true });
    // What each lock blocks ("other" for a lock not ours, blocking), as logind lists them now.
    const auto listed = [&] {
        std::multiset<QString> result;
        const auto reply
            = call("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListInhibitors", {});
        const auto array = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
        for (array.beginArray(); !array.atEnd();) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            array.beginStructure();
            array >> what >> who >> why >> mode >> uid >> pid;
            array.endStructure();
            result.insert(who == "Brisko" && why == "Vardel monitorando" && mode == "block" ? what : "other");
        }
        array.endArray();
        return result;
    };
    const std::multiset<QString> protecting { "idle", "sleep", "handle-lid-switch" };
    {
        PowerGuard guard(connection);
        guard.preventSleep();
        guard.preventSleep();
        EXPECT_TRUE(eventually([&] { return guard.locks().size() == 3 && listed() == protecting; }));
        guard.allowSleep();
        EXPECT_FALSE(guard.held());
        EXPECT_TRUE(eventually([&] { return listed().empty(); }));

        // Answers to a request withdrawn before they arrive are dropped, and their locks with them.
        guard.preventSleep();
        guard.allowSleep();
        EXPECT_TRUE(eventually([&] { return listed().empty(); }));
        EXPECT_FALSE(guard.held());

        // Only the latest request's answers count.
        guard.preventSleep();
        guard.allowSleep();
        guard.preventSleep();
        EXPECT_TRUE(eventually([&] { return guard.locks().size() == 3 && listed() == protecting; }));
    }
    EXPECT_TRUE(eventually([&] { return listed().empty(); }));

    ScreenLock screen(connection, "c1");
    for (bool locked : { true, false }) {
        call("/org/freedesktop/login1/session/c1", "org.freedesktop.login1.Session", "SetLockedHint",
            { locked });
        EXPECT_EQ(screen.screenLocked(), locked);
    }
    EXPECT_EQ(ScreenLock(connection, "c9").screenLocked(), std::nullopt);

    PowerSource power(connection);
    EXPECT_EQ(power.onAC(), true);
    call("/org/freedesktop/UPower", "org.freedesktop.DBus.Properties", "Set",
        { "org.freedesktop.UPower", "OnBattery", QVariant::fromValue(QDBusVariant(true)) },
        "org.freedesktop.UPower");
    EXPECT_EQ(power.onAC(), false);
    QDBusConnection::disconnectFromBus("mocks");

    PrivateBus other;
    const auto empty = QDBusConnection::connectToBus(QString::fromStdString(other.address()), "empty-bus");
    const auto nowhere = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "nowhere");
    for (const auto& dead : { empty, nowhere }) {
        PowerGuard guard(dead);
        guard.preventSleep();
        EXPECT_FALSE(guard.held());
        EXPECT_EQ(ScreenLock(dead, "c1").screenLocked(), std::nullopt);
        EXPECT_EQ(PowerSource(dead).onAC(), std::nullopt);
    }
    QDBusConnection::disconnectFromBus("nowhere");
    // Then a logind that owns its name and never answers.
    other.start({ "/usr/bin/python3", "-c",
        "import dbus, time; b = dbus.SystemBus(); "
        "b.request_name('org.freedesktop.login1'); time.sleep(120)" });
    ASSERT_TRUE(other.waitForName("org.freedesktop.login1"));
    {
        PowerGuard guard(empty, 60000);
        QElapsedTimer clock;
        clock.start();
        guard.preventSleep();
        guard.allowSleep();
        guard.preventSleep();
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(guard.held());
    }
    QDBusConnection::disconnectFromBus("empty-bus");
}
