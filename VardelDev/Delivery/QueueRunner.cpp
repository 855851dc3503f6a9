#include "QueueRunner.h"

#include "Captions.h"
#include "CurlPoster.h"
#include "L.h"
#include "LogScrubber.h"
#include "SendError.h"
#include "VideoInfo.h"

#include <algorithm>
#include <atomic>

namespace vardel {

namespace {

    // The pass-through transport between the queue and the client.
    class SimulatableTransport final : public AlertTransport {
    public:
        explicit SimulatableTransport(std::shared_ptr<AlertTransport> inner)
            : m_inner(std::move(inner))
        {
        }
        void send(const QueueJob& job) override { m_inner->send(job); }

    private:
        std::shared_ptr<AlertTransport> m_inner;
    };

    std::shared_ptr<TelegramClient> makeClient(QueueRunner::Dependencies& d)
    {
        auto http = d.http ? d.http : std::make_shared<CurlPoster>();
        auto clipInfo = d.clipInfo;
        if (!clipInfo)
            clipInfo = [](const std::filesystem::path& file) -> std::optional<TelegramClient::ClipInfo> {
                auto info = VideoInfo::read(file);
                if (!info)
                    return std::nullopt;
                return TelegramClient::ClipInfo { info->seconds, info->width, info->height };
            };
        return std::make_shared<TelegramClient>(
            d.token, d.chatID, std::move(http), d.endpoint, std::move(clipInfo));
    }

} // namespace

QueueRunner::QueueRunner(Dependencies d)
    : m_outbox(d.outbox)
    , m_main(d.main)
    , m_log(d.log)
    , m_clock(d.clock ? d.clock : std::make_shared<SystemClock>())
    , m_client(makeClient(d))
    , m_queue(d.outbox, std::make_shared<SimulatableTransport>(m_client), m_clock)
{
}

QueueRunner::~QueueRunner()
{
    m_work.shutdown();
    m_testQueue.shutdown();
}

void QueueRunner::log(const std::string& line) const
{
    if (m_log)
        m_log(line);
}

QueueRunner::Snapshot QueueRunner::state() const
{
    std::lock_guard guard(m_lock);
    return m_state;
}

void QueueRunner::publish()
{
    Snapshot snapshot { m_running, m_queue.online(), m_queue.pendingCount() };
    std::lock_guard guard(m_lock);
    m_state = snapshot;
}

void QueueRunner::startSending()
{
    m_work.async([this] {
        if (m_running)
            return;
        m_running = true;
        const long generation = ++m_generation;
        log("envio da fila iniciado (" + std::to_string(m_queue.pendingCount()) + " pendente(s))");
        loop(generation);
    });
}

void QueueRunner::loop(long generation)
{
    // A step scheduled by a run that has since been stopped (or stopped and restarted) does nothing.
    if (!m_running || generation != m_generation)
        return;

    const AlertQueue::Step step = m_queue.step();
    // Published before the log line, so whoever sees the line also sees the state it describes.
    publish();
    double delay = 0;
    switch (step.kind) {
    case AlertQueue::Step::Kind::sent:
        log("enviado: " + step.item.filename().string());
        break;
    case AlertQueue::Step::Kind::discarded:
        log("envio rejeitado (" + step.reason + "): " + step.item.filename().string()
            + " movido para outbox/failed");
        break;
    case AlertQueue::Step::Kind::wait:
        log("Telegram indisponível (" + m_queue.lastError().value_or("-") + "); nova tentativa em "
            + std::to_string(static_cast<long long>(step.seconds)) + " s");
        delay = step.seconds;
        break;
    case AlertQueue::Step::Kind::idle:
        delay = 1;
        break;
    }
    // The service's delay is taken as given, but bounded so a wild value cannot park the queue for ever.
    delay = std::clamp(delay, 0.0, kMaxDelay);
    m_work.asyncAfter(delay, [this, generation] { loop(generation); });
}

void QueueRunner::stopAndFlush(double timeout, std::function<void()> done)
{
    auto called = std::make_shared<std::atomic<bool>>(false);
    auto guarded = [called, done = std::move(done)] {
        if (!called->exchange(true) && done)
            done();
    };
    // The safety net: a request that hangs in the flush must not hold up the caller.
    m_main->postAfter(timeout + 2, guarded);

    m_work.async([this, timeout, guarded] {
        m_running = false;
        ++m_generation;
        const int sent = m_queue.flush(m_clock->now() + timeout);
        log("envio encerrado: " + std::to_string(sent) + " enviado(s) na saída, "
            + std::to_string(m_queue.pendingCount()) + " pendente(s) em outbox/");
        publish();
        m_main->post(guarded);
    });
}

void QueueRunner::sendTest(std::string chatLabel, std::function<void(bool, std::string)> completion)
{
    m_testQueue.async([this, chatLabel = std::move(chatLabel), completion = std::move(completion)] {
        bool ok = false;
        std::string result;
        try {
            m_client->sendMessage(Captions::brandAndTime(K::tgTest, m_clock->now()));
            ok = true;
            result = L::t(K::testOK, { chatLabel });
        } catch (const SendError& error) {
            result = L::t(K::testFail, { error.message() });
        } catch (const std::exception& error) {
            result = L::t(K::testFail, { LogScrubber::scrub(error.what()) });
        }
        log("teste do Telegram: " + (ok ? std::string("ok") : result));
        m_main->post([completion, ok, result] {
            if (completion)
                completion(ok, result);
        });
    });
}

} // namespace vardel
