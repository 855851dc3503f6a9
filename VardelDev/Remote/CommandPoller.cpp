#include "CommandPoller.h"

#include "CancellablePoster.h"
#include "PollLease.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

namespace vardel {

namespace {

    // Nothing to poll (no token or no confirmed chat): look again after this many seconds.
    constexpr double kIdle = 2;
    constexpr double kMinBackoff = 2;
    constexpr double kMaxBackoff = 60;
    // Another program polls the same bot: wait at least this long, then longer each time.
    constexpr double kConflictBackoff = 15;
    constexpr double kMaxConflictBackoff = 300;
    // A page of 20 updates is far below this; anything larger is not the Bot API speaking.
    constexpr std::size_t kMaxBody = 1 << 20;

    double grown(double backoff, double least, double most) { return std::clamp(backoff * 2, least, most); }

} // namespace

CommandPoller::CommandPoller(Dependencies dependencies)
    : m_deps(std::move(dependencies))
    , m_requests({}, {}, nullptr, m_deps.endpoint)
{
    m_thread = std::thread([this] { run(); });
}

CommandPoller::~CommandPoller()
{
    *m_alive = false;
    {
        std::lock_guard guard(m_mutex);
        m_stop = true;
        if (m_current)
            m_current->cancel();
    }
    m_wake.notify_all();
    m_deps.lease->wake();
    m_thread.join();
}

void CommandPoller::log(const std::string& line) const
{
    if (m_deps.log)
        m_deps.log("comandos: " + line);
}

bool CommandPoller::pause(double seconds)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_stop.load(); });
    return !m_stop;
}

void CommandPoller::run()
{
    while (!m_stop) {
        std::string token;
        std::optional<std::int64_t> chatID;
        try {
            chatID = m_deps.chatID();
            if (chatID)
                token = m_deps.token();
        } catch (const std::exception&) {
            token.clear();
        }
        if (token.empty() || !chatID) {
            pause(kIdle);
            continue;
        }
        if (token != m_token) {
            m_token = token;
            m_offset.reset();
            m_commandsSet = false;
            m_conflictReported = false;
        }
        if (!m_commandsSet)
            setCommands(token);
        if (!m_deps.lease->beginBackground(m_stop, std::chrono::seconds(1)))
            continue;
        try {
            pollOnce(token, *chatID);
        } catch (const std::exception& error) {
            // An answer of an unexpected shape: nothing of it is obeyed.
            log(std::string("getUpdates: ") + error.what());
            m_backoff = grown(m_backoff, kMinBackoff, kMaxBackoff);
        }
        m_deps.lease->endBackground();
        if (m_backoff > 0)
            pause(m_backoff);
    }
}

void CommandPoller::setCommands(const std::string& token)
{
    m_commandsSet = true;
    const std::pair<const char*, AppLanguage> lists[] = { { "", AppLanguage::en }, { "en", AppLanguage::en },
        { "pt", AppLanguage::ptBR }, { "es", AppLanguage::es } };
    auto http = std::make_shared<CancellablePoster>(kMaxBody);
    {
        std::lock_guard guard(m_mutex);
        if (m_stop)
            return;
        m_current = http;
    }
    for (const auto& [code, language] : lists) {
        std::map<std::string, std::string> fields { { "commands", ChatCommands::commandList(language) } };
        if (*code)
            fields["language_code"] = code;
        try {
            const auto response
                = http->post(m_requests.request(token, "setMyCommands", fields, std::nullopt, 20));
            if (response.status != 200)
                log("setMyCommands " + std::string(*code ? code : "padrão") + ": HTTP "
                    + std::to_string(response.status));
        } catch (const std::exception& error) {
            if (!http->cancelled())
                log(std::string("setMyCommands: ") + error.what());
            break;
        }
    }
    std::lock_guard guard(m_mutex);
    m_current.reset();
}

void CommandPoller::pollOnce(const std::string& token, std::int64_t chatID)
{
    std::map<std::string, std::string> fields { { "timeout", std::to_string(kLongPoll) }, { "limit", "20" },
        { "allowed_updates", R"(["message"])" } };
    if (m_offset)
        fields["offset"] = std::to_string(*m_offset);
    auto http = std::make_shared<CancellablePoster>(kMaxBody);
    {
        std::lock_guard guard(m_mutex);
        if (m_stop)
            return;
        m_current = http;
    }
    HTTPPosting::Response response;
    bool failed = false;
    try {
        response = http->post(m_requests.request(token, "getUpdates", fields, std::nullopt, kLongPoll + 10));
    } catch (const std::exception& error) {
        // A transfer cut short by the destructor is no failure.
        if (!http->cancelled()) {
            log(std::string("getUpdates: ") + error.what());
            failed = true;
        }
    }
    {
        std::lock_guard guard(m_mutex);
        m_current.reset();
    }
    if (failed) {
        m_backoff = grown(m_backoff, kMinBackoff, kMaxBackoff);
        return;
    }
    if (!http->cancelled())
        handleAnswer(response, chatID);
}

void CommandPoller::handleAnswer(const HTTPPosting::Response& response, std::int64_t chatID)
{
    const auto answer = nlohmann::json::parse(response.body, nullptr, false);
    if (response.status == 409) {
        m_backoff = grown(m_backoff, kConflictBackoff, kMaxConflictBackoff);
        if (!std::exchange(m_conflictReported, true)) {
            log("outro programa lê as mensagens deste bot (409)");
            if (m_deps.onConflict)
                m_deps.main->post([alive = m_alive, report = m_deps.onConflict] {
                    if (*alive)
                        report();
                });
        }
        return;
    }
    const auto result = answer.is_object() ? answer.find("result") : answer.end();
    if (response.status != 200 || result == answer.end() || !result->is_array()) {
        log("getUpdates: HTTP " + std::to_string(response.status));
        m_backoff = grown(m_backoff, kMinBackoff, kMaxBackoff);
        // A 429 names its own pause.
        const auto wait = answer.is_object()
            ? answer.value(nlohmann::json::json_pointer("/parameters/retry_after"), 0.0)
            : 0.0;
        m_backoff = std::clamp(std::max(m_backoff, wait), kMinBackoff, kMaxConflictBackoff);
        return;
    }
    m_backoff = 0;
    m_conflictReported = false;
    const double now = m_deps.clock->now();
    for (const auto& update : *result) {
        if (update.is_object())
            if (const auto id = update.find("update_id"); id != update.end() && id->is_number_integer()
                && id->get<std::int64_t>() < std::numeric_limits<std::int64_t>::max())
                m_offset = std::max(m_offset.value_or(0), id->get<std::int64_t>() + 1);
        const auto verdict = ChatCommands::judge(update, chatID, now);
        if (!verdict.command) {
            log("mensagem ignorada (" + verdict.ignored + ")");
            continue;
        }
        m_deps.main->post([alive = m_alive, obey = m_deps.onCommand, command = *verdict.command] {
            if (*alive && obey)
                obey(command);
        });
    }
}

} // namespace vardel
