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

    std::shared_ptr<TelegramClient> makeClient(const QueueRunner::Dependencies& d, std::shared_ptr<HTTPPosting> http)
    {
        auto clipInfo = d.clipInfo;
        if (!clipInfo)
            clipInfo = [](const std::filesystem::path& file) -> std::optional<TelegramClient::ClipInfo> {
                auto info = VideoInfo::read(file);
                if (!info)
                    return std::nullopt;
                return TelegramClient::ClipInfo { info->seconds, info->width, info->height };
            };
        return std::make_shared<TelegramClient>(d.token, d.chatID, std::move(http), d.endpoint, std::move(clipInfo));
    }

} // namespace

// What a scheduled step or the outbox's listener reaches: the runner while it lives, then nothing.
struct QueueRunner::Life {
    std::mutex mutex;
    QueueRunner* runner;
};

QueueRunner::QueueRunner(Dependencies d)
    : m_outbox(d.outbox)
    , m_main(d.main)
    , m_log(d.log)
    , m_clock(d.clock ? d.clock : std::make_shared<SystemClock>())
    , m_http(d.http ? d.http : std::make_shared<CurlPoster>())
    , m_client(makeClient(d, m_http))
    , m_queue(d.outbox, std::make_shared<SimulatableTransport>(m_client), m_clock)
    , m_schedule(d.schedule)
    , m_life(std::make_shared<Life>())
{
    m_life->runner = this;
    if (!m_schedule)
        m_schedule = [this](double seconds, std::function<void()> next) { m_work.asyncAfter(seconds, next); };
    m_outbox->setEnqueueListener([life = m_life] {
        std::lock_guard guard(life->mutex);
        if (life->runner)
            life->runner->wake();
    });
}

QueueRunner::~QueueRunner()
{
    m_outbox->setEnqueueListener({});
    {
        std::lock_guard guard(m_life->mutex);
        m_life->runner = nullptr;
    }
    // No new request starts from here on, and the ones in flight end within about a second: quitting
    // never waits for a long upload.
    m_closing = true;
    m_http->cancelAll();
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
    Snapshot snapshot { m_running, m_queue.online(), m_queue.pendingCount(), m_queue.chatUnreachable(),
        m_queue.storageFault() };
    std::lock_guard guard(m_lock);
    m_state = snapshot;
}

void QueueRunner::startSending()
{
    ++*m_starts;
    m_work.async([this] {
        if (m_running || m_closing)
            return;
        m_running = true;
        log("envio da fila iniciado (" + std::to_string(m_queue.pendingCount()) + " pendente(s))");
        loop(++m_ticket);
    });
}

void QueueRunner::wake()
{
    m_work.async([this] {
        if (!m_running || !m_idleWait)
            return;
        m_idleWait = false;
        loop(++m_ticket);
    });
}

void QueueRunner::loop(long ticket)
{
    // A step scheduled before a stop, a start or a wake that replaced it does nothing.
    if (!m_running || ticket != m_ticket || m_closing)
        return;
    m_idleWait = false;

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
    case AlertQueue::Step::Kind::stuck:
        delay = step.seconds;
        break;
    case AlertQueue::Step::Kind::idle:
        delay = 1;
        m_idleWait = true;
        break;
    }
    // Each of these is logged when it begins, not at every step it lasts.
    if (m_queue.chatUnreachable() && !m_chatLogged)
        log("fila: o Telegram recusa o chat (" + m_queue.lastError().value_or("-") + "); parear de novo");
    m_chatLogged = m_queue.chatUnreachable();
    if (m_queue.storageFault() && !m_storageLogged)
        log("fila: " + *m_queue.storageFault() + "; o que já foi enviado não será reenviado nesta execução");
    m_storageLogged = m_queue.storageFault().has_value();

    scheduleNext(delay);
}

void QueueRunner::scheduleNext(double delay)
{
    const long ticket = ++m_ticket;
    if (!(delay > 0)) {
        m_work.async([this, ticket] { loop(ticket); });
        return;
    }
    // The service's delay is taken as given, but bounded so a wild value cannot park the queue for ever.
    m_schedule(std::min(delay, kMaxDelay), [life = m_life, ticket] {
        std::lock_guard guard(life->mutex);
        if (auto* runner = life->runner)
            runner->m_work.async([runner, ticket] { runner->loop(ticket); });
    });
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
    // At the flush's deadline the upload in flight is cancelled, unless sending was started again since.
    m_main->postAfter(timeout, [called, http = m_http, starts = m_starts, seen = m_starts->load()] {
        if (!called->load() && starts->load() == seen)
            http->cancelAll();
    });

    // The deadline counts from the call, not from when a step in flight lets the flush begin.
    m_work.async([this, deadline = m_clock->now() + timeout, guarded] {
        m_running = false;
        ++m_ticket;
        if (m_closing)
            return;
        const int sent = m_queue.flush(deadline);
        log("envio encerrado: " + std::to_string(sent) + " enviado(s) na saída, "
            + std::to_string(m_queue.pendingCount()) + " pendente(s) em outbox/");
        publish();
        m_main->post(guarded);
    });
}

void QueueRunner::sendTest(std::string chatLabel, std::function<void(bool, std::string)> completion)
{
    m_testQueue.async([this, chatLabel = std::move(chatLabel), completion = std::move(completion)] {
        if (m_closing)
            return;
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
