#include "AppHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <fstream>
#include <sstream>

namespace vardel::test {

namespace fs = std::filesystem;

DataFolder::DataFolder(DetectionMode mode)
    : root(fs::temp_directory_path() / ("brisko-app-" + std::to_string(::getpid()) + "-"
          + std::to_string(reinterpret_cast<std::uintptr_t>(this))))
    , paths(root / "data")
{
    fs::remove_all(root);
    paths.prepare();
    settings.chatID = 4242;
    settings.chatLabel = "Home";
    settings.chatConfirmed = true;
    settings.detectionMode = mode;
    settings.sensitivity = 10;
    settings.preSeconds = 2;
    settings.postSeconds = 3;
    writeSettings(settings);
}

DataFolder::~DataFolder()
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void DataFolder::writeSettings(const Settings& value) const
{
    std::ofstream(paths.config()) << value.encode();
}

std::vector<fs::path> DataFolder::eventFiles(const std::string& extension) const
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(paths.events(), error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == extension)
            found.push_back(it->path());
    return found;
}

std::string DataFolder::read(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool runUntil(const std::function<bool()>& done, double seconds)
{
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TcpRelay::TcpRelay(int port, int target)
    : m_target(target)
{
    m_server.listen(QHostAddress::LocalHost, static_cast<quint16>(port));
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* in = m_server.nextPendingConnection()) {
            auto* out = new QTcpSocket(in);
            // Writes made while `out` still connects are buffered by the socket.
            out->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_target));
            connect(in, &QTcpSocket::readyRead, out, [in, out] { out->write(in->readAll()); });
            connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
            connect(out, &QTcpSocket::disconnected, in, [in] { in->disconnectFromHost(); });
            connect(in, &QTcpSocket::disconnected, in, [in] { in->deleteLater(); });
            if (in->bytesAvailable() > 0)
                out->write(in->readAll());
        }
    });
}

} // namespace vardel::test
