#include "AlertQueue.h"

#include "SendError.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace vardel {

namespace {

    std::string lastComponentOrDash(const std::optional<fs::path>& file)
    {
        if (!file || file->filename().empty())
            return "-";
        return file->filename().string();
    }

    // Only regular files of plausible size are read: a FIFO would block the send queue for ever and a
    // huge file would be pulled into memory for nothing.
    std::string readSmallFile(const fs::path& item)
    {
        std::error_code error;
        const auto status = fs::status(item, error);
        if (error)
            throw std::system_error(error, "read " + item.filename().string());
        if (!fs::is_regular_file(status))
            throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                "not a regular file: " + item.filename().string());
        const auto size = fs::file_size(item, error);
        if (error)
            throw std::system_error(error, "read " + item.filename().string());
        if (size > AlertQueue::kMaxItemBytes)
            throw std::system_error(
                std::make_error_code(std::errc::file_too_large), std::to_string(size) + " bytes");
        std::ifstream in(item, std::ios::binary);
        if (!in)
            throw std::system_error(
                std::make_error_code(std::errc::io_error), "read " + item.filename().string());
        std::string bytes(std::istreambuf_iterator<char>(in), {});
        if (in.bad())
            throw std::system_error(
                std::make_error_code(std::errc::io_error), "read " + item.filename().string());
        return bytes;
    }

} // namespace

AlertQueue::AlertQueue(std::shared_ptr<Outbox> outbox, std::shared_ptr<AlertTransport> transport,
    std::shared_ptr<const Clock> clock)
    : m_outbox(std::move(outbox))
    , m_failedDirectory(m_outbox->directory() / "failed")
    , m_transport(std::move(transport))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

QueueJob AlertQueue::read(const fs::path& item)
{
    const auto object = nlohmann::json::parse(readSmallFile(item));
    std::optional<QueueJob::Kind> kind;
    if (object.is_object()) {
        auto it = object.find("kind");
        if (it != object.end() && it->is_string())
            kind = QueueJob::kindFromRaw(it->get_ref<const std::string&>());
    }
    if (!kind)
        throw SendError::permanent("JSON sem tipo válido");

    QueueJob job;
    job.kind = *kind;
    if (auto it = object.find("path"); it != object.end() && it->is_string())
        job.file = fs::path(it->get_ref<const std::string&>());
    if (auto it = object.find("text"); it != object.end() && it->is_string())
        job.text = it->get_ref<const std::string&>();
    return job;
}

AlertQueue::Step AlertQueue::step()
{
    const auto next = m_outbox->oldest(m_stuck);
    if (!next)
        return Step::idle();
    const fs::path item = *next;

    QueueJob job;
    try {
        job = read(item);
    } catch (const std::exception& error) {
        return discard(item, std::string("item inválido: ") + error.what());
    }

    if (job.kind != QueueJob::Kind::text) {
        std::error_code error;
        if (!job.file || !fs::exists(*job.file, error))
            return discard(item, "arquivo sumiu: " + lastComponentOrDash(job.file));
    }

    try {
        m_transport->send(job);
    } catch (const SendError& error) {
        m_lastError = error.message();
        m_online = error.kind() != SendError::Case::transient;
        switch (error.kind()) {
        case SendError::Case::permanent:
            return discard(item, error.message());
        case SendError::Case::retryAfter:
            return Step::wait(std::max(error.seconds(), 1.0));
        case SendError::Case::chatUnreachable:
            m_chatUnreachable = true;
            break;
        case SendError::Case::transient:
            break;
        }
        return Step::wait(growBackoff());
    } catch (const std::exception& error) {
        m_lastError = error.what();
        m_online = false;
        return Step::wait(growBackoff());
    }

    ++m_sends;
    m_online = true;
    m_lastSent = m_clock->now();
    m_lastError.reset();
    m_chatUnreachable = false;
    std::error_code error;
    if (!fs::remove(item, error) && error)
        return stuck(item, error.message());
    m_storageFault.reset();
    m_backoff = kMinBackoff;
    return Step::sent(item);
}

double AlertQueue::growBackoff()
{
    const double wait = m_backoff;
    m_backoff = std::min(2 * m_backoff, kMaxBackoff);
    return wait;
}

AlertQueue::Step AlertQueue::stuck(const fs::path& item, const std::string& failure)
{
    // Taking it again would send it again, in a tight loop: it stays where it is for this run.
    m_stuck.insert(item.filename().string());
    m_storageFault = "outbox não pode ser alterada (" + item.filename().string() + "): " + failure;
    return Step::stuck(item, failure, growBackoff());
}

AlertQueue::Step AlertQueue::discard(const fs::path& item, std::string reason)
{
    std::error_code ignored;
    fs::create_directories(m_failedDirectory, ignored);
    ::chmod(m_failedDirectory.c_str(), 0700);
    const fs::path destination = m_failedDirectory / item.filename();
    fs::remove_all(destination, ignored);
    std::error_code moveError;
    fs::rename(item, destination, moveError);
    // A bad item must never block the queue: when it cannot be moved aside it is deleted.
    if (moveError) {
        std::error_code removeError;
        fs::remove_all(item, removeError);
        if (removeError)
            return stuck(item, removeError.message());
    }
    m_storageFault.reset();
    return Step::discarded(item, std::move(reason));
}

int AlertQueue::flush(double deadline)
{
    const int before = m_sends;
    while (m_clock->now() < deadline) {
        const Step result = step();
        if (result.kind != Step::Kind::sent && result.kind != Step::Kind::discarded)
            break;
    }
    return m_sends - before;
}

int AlertQueue::pendingCount() const { return static_cast<int>(m_outbox->count()); }

} // namespace vardel
