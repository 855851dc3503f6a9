#include "QuitSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vardel {

namespace {

    int signalPipe[2] = { -1, -1 };

    void onSignal(int)
    {
        const char byte = 1;
        [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
    }

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
        if (onQuit)
            onQuit();
    });
}

QuitSignals::~QuitSignals() = default;

} // namespace vardel
