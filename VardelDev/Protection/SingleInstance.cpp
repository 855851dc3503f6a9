#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vardel {

namespace {
    constexpr const char* kShowRequest = "show\n";
    constexpr int kAnswerWaitMs = 2000;
}

SingleInstance::SingleInstance(std::filesystem::path folder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(folder))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_fd >= 0)
        ::close(m_fd);
}

SingleInstance::Result SingleInstance::acquire()
{
    const std::filesystem::path lockFile = m_folder / "instance.lock";
    const QString socketName = QString::fromStdString((m_folder / "instance.sock").string());
    m_fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error = lockFile.string() + ": " + std::strerror(errno);
        return Result::failed;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(m_fd);
        m_fd = -1;
        if (code != EWOULDBLOCK) {
            m_error = lockFile.string() + ": " + std::strerror(code);
            return Result::failed;
        }
        QLocalSocket socket;
        socket.connectToServer(socketName);
        if (socket.waitForConnected(kAnswerWaitMs)) {
            socket.write(kShowRequest);
            m_answered = socket.waitForBytesWritten(kAnswerWaitMs);
            socket.disconnectFromServer();
        }
        return Result::running;
    }
    // The lock is ours, so a socket file left there belongs to a process that is gone.
    QLocalServer::removeServer(socketName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server->listen(socketName))
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readRequests);
    return Result::owner;
}

void SingleInstance::readRequests()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kShowRequest && onShowRequested)
                    onShowRequested();
            }
        });
    }
}

} // namespace vardel
