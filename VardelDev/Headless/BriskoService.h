#pragma once

#include <QDBusAbstractAdaptor>
#include <QTimer>
#include <QVariantMap>

#include <functional>

namespace vardel {

class Model;

// The running instance on the session bus: name "app.brisko.Brisko", object "/app/brisko/Brisko",
// interface "app.brisko.Brisko". Read-only properties a shell user can read with busctl or gdbus (plain
// strings and an integer) and their PropertiesChanged signal, gathered once per turn of the event loop;
// methods to arm, disarm and show the window. Lives on the main thread next to the model, which must
// outlive it. Without a session bus, or when another data folder's instance holds the name, it stays
// off the bus and says why in `problem`.
class BriskoService final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brisko.Brisko")
    Q_PROPERTY(QString Phase READ phase)
    Q_PROPERTY(QString Mode READ mode)
    Q_PROPERTY(int Queue READ queue)
    Q_PROPERTY(QString LastEvent READ lastEvent)
    Q_PROPERTY(QString Camera READ camera)
    Q_PROPERTY(QString Telegram READ telegram)
    Q_PROPERTY(QString Summary READ summary)
    Q_PROPERTY(QString DataFolder READ dataFolder)

public:
    static constexpr const char* kName = "app.brisko.Brisko";
    static constexpr const char* kPath = "/app/brisko/Brisko";

    // `host` is the object registered at kPath; the adaptor is its child.
    BriskoService(QObject* host, Model& model);

    // Registers the object and asks for the name; false (and `problem`) when it could not.
    bool publish();
    const QString& problem() const { return m_problem; }

    // What ShowWindow does; by default nothing but a log line.
    std::function<void()> showWindow;

    QString phase() const;
    QString mode() const;
    int queue() const;
    QString lastEvent() const;
    QString camera() const;
    QString telegram() const;
    QString summary() const;
    QString dataFolder() const;

public slots:
    // Whether protection is on (Arm) or off (Disarm) afterwards; arming can be refused, e.g. without a
    // paired chat, and the Summary then says why.
    bool Arm();
    bool Disarm();
    void ShowWindow();

private:
    QVariantMap properties() const;
    void emitChanges();

    Model& m_model;
    QVariantMap m_sent;
    QTimer m_gather;
    QString m_problem;
};

} // namespace vardel
