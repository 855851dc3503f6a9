#include "QtMainExecutor.h"

#include <QMetaObject>
#include <QTimer>

#include <cmath>

namespace vardel {

QtMainExecutor::QtMainExecutor(QObject* context)
    : m_context(context)
{
}

void QtMainExecutor::post(std::function<void()> work)
{
    QObject* context = m_context.data();
    if (!context)
        return;
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(double seconds, std::function<void()> work)
{
    QObject* context = m_context.data();
    if (!context)
        return;
    int ms = static_cast<int>(std::ceil(std::max(0.0, seconds) * 1000.0));
    // Timers must be started on the thread that owns them, so hop there first. Precise: Qt's default for
    // delays of two seconds and more may fire up to 5 % early, which would cut an upload short before the
    // flush's deadline at quit.
    QMetaObject::invokeMethod(
        context,
        [context, ms, work = std::move(work)]() mutable {
            QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(work));
        },
        Qt::QueuedConnection);
}

} // namespace vardel
