#include "PowerGuard.h"
#include "PowerSource.h"
#include "ScreenLock.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <tuple>

using namespace vardel;

namespace {

// A private bus standing in for the system bus, with logind and UPower mocked by python3-dbusmock.
class PrivateSystemBus {
public:
    // Empty when the bus could not be started.
    QString start()
    {
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments({ "--session", "--nofork", "--print-address=1" });
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return {};
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_name = QStringLiteral("private-system-bus-%1").arg(++s_count);
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, m_name));
        return m_connection->isConnected() ? m_address : QString();
    }

    ~PrivateSystemBus()
    {
        for (auto& mock : m_mocks) {
            mock->terminate();
            mock->waitForFinished(5000);
        }
        m_connection.reset();
        if (!m_name.isEmpty())
            QDBusConnection::disconnectFromBus(m_name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    QDBusConnection bus() const { return *m_connection; }

    // Starts a dbusmock template and waits until it owns `service`.
    bool startMock(const QString& templateName, const QString& service, const QString& parameters = {})
    {
        auto mock = std::make_unique<QProcess>();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        mock->setProcessEnvironment(environment);
        mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock->setStandardOutputFile(QProcess::nullDevice());
        QStringList arguments { "-m", "dbusmock", "--template", templateName };
        if (!parameters.isEmpty())
            arguments << "-p" << parameters;
        mock->start(QStringLiteral("/usr/bin/python3"), arguments);
        m_mocks.push_back(std::move(mock));

        QDBusServiceWatcher watcher(service, *m_connection, QDBusServiceWatcher::WatchForRegistration);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        if (!m_connection->interface()->isServiceRegistered(service))
            loop.exec();
        return m_connection->interface()->isServiceRegistered(service);
    }

    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
        const QString& method, const QVariantList& arguments = {}) const
    {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return m_connection->call(message);
    }

private:
    static inline int s_count = 0;
    QProcess m_daemon;
    QString m_address;
    QString m_name;
    std::unique_ptr<QDBusConnection> m_connection;
    std::vector<std::unique_ptr<QProcess>> m_mocks;
};

bool haveTools(QString& missing)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        missing = QStringLiteral("dbus-daemon (Debian package dbus)");
    else if (QProcess::execute(QStringLiteral("/usr/bin/python3"), { "-c", "import dbusmock" }) != 0)
        missing = QStringLiteral("python3-dbusmock");
    return missing.isEmpty();
}

using Inhibitor = std::tuple<QString, QString, QString, QString>; // what, who, why, mode

// One bus with logind (one session "c1") and UPower for the whole suite; the tests leave no locks behind.
class LogindAndUPower : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QString missing;
        if (!haveTools(missing)) {
            s_skip = missing + " is not installed";
            return;
        }
        s_bus = std::make_unique<PrivateSystemBus>();
        if (s_bus->start().isEmpty() || !s_bus->startMock("logind", "org.freedesktop.login1")
            || !s_bus->startMock("upower", "org.freedesktop.UPower")) {
            s_failure = "could not start the private bus and its mocks";
            return;
        }
        s_bus->call("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock",
            "AddSession", { "c1", "seat0", 1000u, "ana", true });
    }
    static void TearDownTestSuite() { s_bus.reset(); }

    void SetUp() override
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << s_skip.toStdString();
        ASSERT_TRUE(s_failure.isEmpty()) << s_failure.toStdString();
    }

    static std::multiset<Inhibitor> inhibitors()
    {
        const auto reply = s_bus->call("org.freedesktop.login1", "/org/freedesktop/login1",
            "org.freedesktop.login1.Manager", "ListInhibitors");
        std::multiset<Inhibitor> result;
        if (reply.arguments().isEmpty())
            return result;
        const auto array = qvariant_cast<QDBusArgument>(reply.arguments().first());
        array.beginArray();
        while (!array.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            array.beginStructure();
            array >> what >> who >> why >> mode >> uid >> pid;
            array.endStructure();
            result.insert({ what, who, why, mode });
        }
        array.endArray();
        return result;
    }

    // logind notices a closed lock asynchronously; ask until it agrees or five seconds pass.
    static std::multiset<Inhibitor> inhibitorsOnceSettled(std::size_t expected)
    {
        QDeadlineTimer deadline(5000);
        auto current = inhibitors();
        while (current.size() != expected && !deadline.hasExpired()) {
            QThread::msleep(10);
            current = inhibitors();
        }
        return current;
    }

    static void setLocked(bool locked)
    {
        s_bus->call("org.freedesktop.login1", "/org/freedesktop/login1/session/c1",
            "org.freedesktop.login1.Session", "SetLockedHint", { locked });
    }

    static inline std::unique_ptr<PrivateSystemBus> s_bus;
    static inline QString s_skip;
    static inline QString s_failure;
};

const std::multiset<Inhibitor> kProtecting {
    { "idle", "Brisko", "Vardel monitorando", "block" },
    { "sleep", "Brisko", "Vardel monitorando", "block" },
    { "handle-lid-switch", "Brisko", "Vardel monitorando", "block" },
};

} // namespace

TEST_F(LogindAndUPower, LocksAreHeldExactlyWhileProtectingAndTakenOnce)
{
    PowerGuard guard(s_bus->bus());
    EXPECT_FALSE(guard.held());

    guard.preventSleep();
    guard.preventSleep();
    EXPECT_TRUE(guard.held());
    EXPECT_EQ(guard.locks().size(), 3u);
    EXPECT_EQ(inhibitors(), kProtecting);

    guard.allowSleep();
    EXPECT_FALSE(guard.held());
    EXPECT_TRUE(inhibitorsOnceSettled(0).empty());

    guard.preventSleep();
    EXPECT_EQ(inhibitors(), kProtecting);
    guard.allowSleep();
    guard.allowSleep();
    EXPECT_TRUE(inhibitorsOnceSettled(0).empty());
}

TEST_F(LogindAndUPower, DestroyingTheGuardReleasesItsLocks)
{
    {
        PowerGuard guard(s_bus->bus());
        guard.preventSleep();
        ASSERT_EQ(inhibitors().size(), 3u);
    }
    EXPECT_TRUE(inhibitorsOnceSettled(0).empty());
}

TEST_F(LogindAndUPower, ScreenLockFollowsTheSessionsLockedHint)
{
    ScreenLock screen(s_bus->bus(), "c1");
    EXPECT_EQ(screen.screenLocked(), false);
    setLocked(true);
    EXPECT_EQ(screen.screenLocked(), true);
    setLocked(false);
    EXPECT_EQ(screen.screenLocked(), false);

    EXPECT_EQ(ScreenLock(s_bus->bus(), "c9").screenLocked(), std::nullopt);
}

TEST_F(LogindAndUPower, PowerSourceReadsOnBattery)
{
    PowerSource power(s_bus->bus());
    EXPECT_EQ(power.onAC(), true);
    s_bus->call("org.freedesktop.UPower", "/org/freedesktop/UPower", "org.freedesktop.DBus.Properties", "Set",
        { "org.freedesktop.UPower", "OnBattery", QVariant::fromValue(QDBusVariant(true)) });
    EXPECT_EQ(power.onAC(), false);
}

TEST(WithoutLogindOrUPower, EverythingIsAbsentAndNothingIsHeld)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
    PrivateSystemBus bus;
    ASSERT_FALSE(bus.start().isEmpty());

    PowerGuard guard(bus.bus());
    guard.preventSleep();
    EXPECT_FALSE(guard.held());
    EXPECT_EQ(ScreenLock(bus.bus(), "c1").screenLocked(), std::nullopt);
    EXPECT_EQ(PowerSource(bus.bus()).onAC(), std::nullopt);

    // No bus at all behaves the same.
    QDBusConnection nowhere
        = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "nowhere");
    PowerGuard unplugged(nowhere);
    unplugged.preventSleep();
    EXPECT_FALSE(unplugged.held());
    EXPECT_EQ(ScreenLock(nowhere, "c1").screenLocked(), std::nullopt);
    EXPECT_EQ(PowerSource(nowhere).onAC(), std::nullopt);
    QDBusConnection::disconnectFromBus("nowhere");
}
