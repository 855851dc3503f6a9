#pragma once

#include "MainExecutor.h"

#include <QObject>
#include <QPointer>

namespace vardel {

// Runs posted work on the thread of `context` (the Qt main thread) through queued invocations.
// Work posted after `context` is destroyed is dropped. Posting is safe from any thread.
class QtMainExecutor final : public MainExecutor {
public:
    explicit QtMainExecutor(QObject* context);

    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;

private:
    QPointer<QObject> m_context;
};

} // namespace vardel
