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
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace vardel;
using test::PrivateBus;

namespace {

// One private bus standing in for the system bus, with logind (session "c1") and UPower mocked by
// python3-dbusmock, for the whole suite; the tests leave no locks behind.
class LogindAndUPower : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!PrivateBus::onPath("dbus-daemon") || !PrivateBus::onPath("gdbus")
            || std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
            s_skip = "needs dbus-daemon, gdbus and python3-dbusmock";
            return;
        }
        s_bus = std::make_unique<PrivateBus>();
        for (const char* mock : { "logind", "upower" })
            s_bus->start({ "/usr/bin/python3", "-m", "dbusmock", "--template", mock });
        s_connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(s_bus->address()), "logind-and-upower"));
        if (!s_bus->waitForName("org.freedesktop.login1") || !s_bus->waitForName("org.freedesktop.UPower"))
            s_failure = "could not start the private bus and its mocks";
        call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
            { "c1", "seat0", 1000u, "ana", true });
    }
    static void TearDownTestSuite()
    {
        s_connection.reset();
        QDBusConnection::disconnectFromBus("logind-and-upower");
        s_bus.reset();
    }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        ASSERT_TRUE(s_failure.empty()) << s_failure;
    }

    static QDBusMessage call(const QString& path, const QString& interface, const QString& method,
        const QVariantList& arguments = {}, const QString& service = "org.freedesktop.login1")
    {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return s_connection->call(message);
    }

    // What each lock blocks ("other" for a lock not ours, blocking), as logind lists them now.
    static std::multiset<QString> listed()
    {
        std::multiset<QString> result;
        const auto array = qvariant_cast<QDBusArgument>(
            call("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListInhibitors").arguments().value(0));
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
    }

    // Logind notices a closed lock asynchronously: ask until it lists `expected` locks or 5 s pass.
    static std::multiset<QString> inhibitors(std::size_t expected)
    {
        for (QDeadlineTimer deadline(5000);; QThread::msleep(10)) {
            auto result = listed();
            if (result.size() == expected || deadline.hasExpired())
                return result;
        }
    }

    static inline std::unique_ptr<PrivateBus> s_bus;
    static inline std::unique_ptr<QDBusConnection> s_connection;
    static inline std::string s_skip, s_failure;
};

const std::multiset<QString> kProtecting { "idle", "sleep", "handle-lid-switch" };

// Runs the event loop, where logind's answers arrive (and finished requests are deleted, closing the
// descriptors of answers dropped), until `done` or 5 s.
template <typename Done> bool eventually(Done done)
{
    for (QDeadlineTimer deadline(5000); !done() && !deadline.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

} // namespace

// One case: each test process would start the mocks again.
TEST_F(LogindAndUPower, LocksAreHeldOnlyWhileProtectingScreenLockAndPowerSourceFollowTheServices)
{
    {
        PowerGuard guard(*s_connection);
        guard.preventSleep();
        guard.preventSleep();
        EXPECT_TRUE(eventually([&] { return guard.locks().size() == 3; }));
        EXPECT_EQ(inhibitors(3), kProtecting);
        guard.allowSleep();
        EXPECT_FALSE(guard.held());
        EXPECT_TRUE(inhibitors(0).empty());

        // Answers to a request withdrawn before they arrive are dropped, and their locks with them.
        guard.preventSleep();
        guard.allowSleep();
        EXPECT_TRUE(eventually([&] { return listed().empty(); }));
        EXPECT_FALSE(guard.held());

        // Only the latest request's answers count.
        guard.preventSleep();
        guard.allowSleep();
        guard.preventSleep();
        EXPECT_TRUE(eventually([&] { return guard.locks().size() == 3 && listed().size() == 3; }));
        EXPECT_EQ(inhibitors(3), kProtecting);
        EXPECT_EQ(guard.locks().size(), 3u);
    }
    EXPECT_TRUE(inhibitors(0).empty());

    ScreenLock screen(*s_connection, "c1");
    for (bool locked : { true, false }) {
        call("/org/freedesktop/login1/session/c1", "org.freedesktop.login1.Session", "SetLockedHint",
            { locked });
        EXPECT_EQ(screen.screenLocked(), locked);
    }
    EXPECT_EQ(ScreenLock(*s_connection, "c9").screenLocked(), std::nullopt);

    PowerSource power(*s_connection);
    EXPECT_EQ(power.onAC(), true);
    call("/org/freedesktop/UPower", "org.freedesktop.DBus.Properties", "Set",
        { "org.freedesktop.UPower", "OnBattery", QVariant::fromValue(QDBusVariant(true)) },
        "org.freedesktop.UPower");
    EXPECT_EQ(power.onAC(), false);
}

TEST(WithoutLogindOrUPower, EverythingIsAbsentAndNothingIsHeld)
{
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
    const auto empty = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "empty-bus");
    const auto nowhere = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "nowhere");
    for (const auto& connection : { empty, nowhere }) {
        PowerGuard guard(connection);
        guard.preventSleep();
        EXPECT_FALSE(guard.held());
        EXPECT_EQ(ScreenLock(connection, "c1").screenLocked(), std::nullopt);
        EXPECT_EQ(PowerSource(connection).onAC(), std::nullopt);
    }
    QDBusConnection::disconnectFromBus("empty-bus");
    QDBusConnection::disconnectFromBus("nowhere");
}

TEST(WithAHungLogind, TheGuardNeverHoldsUpTheMainThread)
{
    PrivateBus bus;
    if (!bus.ok() || std::system("/usr/bin/python3 -c 'import dbus' 2>/dev/null") != 0)
        GTEST_SKIP() << "needs dbus-daemon and python3-dbus";
    // Owns logind's name and never answers.
    bus.start({ "/usr/bin/python3", "-c",
        "import dbus, time; b = dbus.SystemBus(); b.request_name('org.freedesktop.login1'); time.sleep(120)" });
    ASSERT_TRUE(bus.waitForName("org.freedesktop.login1"));
    {
        PowerGuard guard(QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "hung"), 60000);
        QElapsedTimer clock;
        clock.start();
        guard.preventSleep();
        guard.allowSleep();
        guard.preventSleep();
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(guard.held());
    }
    QDBusConnection::disconnectFromBus("hung");
}
