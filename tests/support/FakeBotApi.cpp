#include "FakeBotApi.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <httplib.h>

namespace vardel::test {

namespace {

    nlohmann::json errorEnvelope(int code, const std::string& description)
    {
        return { { "ok", false }, { "error_code", code }, { "description", description } };
    }

    std::int64_t integerField(
        const std::map<std::string, std::string>& fields, const std::string& key, std::int64_t fallback)
    {
        if (const auto it = fields.find(key); it != fields.end())
            std::from_chars(it->second.data(), it->second.data() + it->second.size(), fallback);
        return fallback;
    }

} // namespace

FakeBotApi::Fault FakeBotApi::Fault::httpError(int status, const std::string& description)
{
    return answer(status, errorEnvelope(status, description).dump());
}

FakeBotApi::Fault FakeBotApi::Fault::tooManyRequests(double retryAfter)
{
    auto body = errorEnvelope(429, "Too Many Requests: retry after " + std::to_string(int(retryAfter)));
    body["parameters"] = { { "retry_after", retryAfter } };
    return answer(429, body.dump());
}

FakeBotApi::FakeBotApi()
    : m_server(std::make_unique<httplib::Server>())
{
    m_server->Post(
        R"(/bot([^/]*)/([A-Za-z]+))", [this](const httplib::Request& request, httplib::Response& response) {
            Call call;
            call.token = request.matches[1];
            call.method = request.matches[2];
            for (const auto& [key, value] : request.params)
                call.fields[key] = value;
            for (const auto& [name, part] : request.files) {
                if (part.filename.empty())
                    call.fields[name] = part.content;
                else
                    call.files.push_back({ name, part.filename, part.content_type, part.content });
            }

            int status = 200;
            bool drop = false;
            std::string body = handle(std::move(call), status, drop);
            if (drop) {
                // The head goes out, then the provider gives up: the connection closes mid-answer.
                response.set_chunked_content_provider(
                    "application/json", [](std::size_t, httplib::DataSink&) { return false; });
                return;
            }
            response.status = status;
            const bool json = !body.empty() && (body.front() == '{' || body.front() == '[');
            response.set_content(body, json ? "application/json" : "text/html");
        });

    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("fake Bot API: cannot bind to 127.0.0.1");
    // The socket is already listening, so requests made before the loop starts simply queue.
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // httplib's stop() does nothing until the loop runs: a server destroyed sooner would never be joined.
    for (int waited = 0; !m_server->is_running() && waited < 5000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeBotApi::~FakeBotApi()
{
    {
        std::lock_guard guard(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string FakeBotApi::endpoint() const { return "http://127.0.0.1:" + std::to_string(m_port); }

void FakeBotApi::failNext(Fault fault, const std::string& method)
{
    std::lock_guard guard(m_mutex);
    m_faults.push_back({ method, std::move(fault) });
}

void FakeBotApi::setResult(const std::string& method, nlohmann::json result)
{
    std::lock_guard guard(m_mutex);
    m_results[method] = std::move(result);
}

std::int64_t FakeBotApi::pushUpdate(nlohmann::json update)
{
    std::int64_t id;
    {
        std::lock_guard guard(m_mutex);
        id = m_nextUpdateID++;
        update["update_id"] = id;
        m_updates.push_back(std::move(update));
    }
    m_changed.notify_all();
    return id;
}

nlohmann::json FakeBotApi::textMessage(
    std::int64_t chatID, const std::string& text, const std::string& chatType)
{
    static std::int64_t nextID = 1000;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return { { "message",
        { { "message_id", nextID++ },
            { "date", std::chrono::duration_cast<std::chrono::seconds>(now).count() },
            { "chat", { { "id", chatID }, { "type", chatType } } }, { "from", { { "id", chatID } } },
            { "text", text } } } };
}

std::size_t FakeBotApi::conflicts() const
{
    std::lock_guard guard(m_mutex);
    return m_conflicts;
}

std::vector<FakeBotApi::Call> FakeBotApi::calls() const
{
    std::lock_guard guard(m_mutex);
    return m_calls;
}

std::vector<FakeBotApi::Call> FakeBotApi::callsOf(const std::string& method) const
{
    auto found = calls();
    std::erase_if(found, [&](const Call& call) { return call.method != method; });
    return found;
}

bool FakeBotApi::waitForCalls(std::size_t count, double timeoutSeconds) const
{
    return waitUntil([&] { return m_calls.size() >= count; }, timeoutSeconds);
}

bool FakeBotApi::waitForHeld(std::size_t count, double timeoutSeconds) const
{
    return waitUntil([&] { return m_held >= count; }, timeoutSeconds);
}

void FakeBotApi::release()
{
    {
        std::lock_guard guard(m_mutex);
        ++m_releases;
    }
    m_changed.notify_all();
}

std::optional<FakeBotApi::Fault> FakeBotApi::takeFault(const std::string& method)
{
    const auto it = std::ranges::find_if(
        m_faults, [&](const Pending& pending) { return pending.method.empty() || pending.method == method; });
    if (it == m_faults.end())
        return std::nullopt;
    Fault fault = std::move(it->fault);
    m_faults.erase(it);
    return fault;
}

std::string FakeBotApi::handle(Call call, int& status, bool& drop)
{
    const std::string& method = call.method;
    std::unique_lock lock(m_mutex);
    m_calls.push_back(call);
    m_changed.notify_all();

    if (auto fault = takeFault(method)) {
        switch (fault->kind) {
        case Fault::Kind::answer:
            status = fault->status;
            return fault->body;
        case Fault::Kind::drop:
            drop = true;
            return {};
        case Fault::Kind::delay:
            m_changed.wait_for(
                lock, std::chrono::duration<double>(fault->seconds), [&] { return m_stopping; });
            break;
        case Fault::Kind::hold: {
            const auto releases = m_releases;
            ++m_held;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_stopping || m_releases != releases; });
            --m_held;
            break;
        }
        }
    }

    const auto fail = [&](int code, const std::string& description) {
        status = code;
        return errorEnvelope(code, description).dump();
    };
    if (call.token != kToken)
        return fail(401, "Unauthorized");
    nlohmann::json result;
    if (method == "getUpdates") {
        bool conflict = false;
        result = updatesFor(call, lock, conflict);
        if (conflict) {
            ++m_conflicts;
            return fail(409, "Conflict: terminated by other getUpdates request");
        }
    } else if (auto it = m_results.find(method); it != m_results.end()) {
        result = it->second;
    } else {
        result = resultFor(call);
        if (result.is_null())
            return fail(404, "Not Found");
    }
    status = 200;
    return nlohmann::json({ { "ok", true }, { "result", result } }).dump();
}

nlohmann::json FakeBotApi::resultFor(const Call& call)
{
    if (call.method == "getMe")
        return { { "id", 123456 }, { "is_bot", true }, { "first_name", "Brisko" },
            { "username", "brisko_test_bot" } };
    if (call.method == "sendMessage" || call.method == "sendPhoto" || call.method == "sendVideo") {
        return { { "message_id", m_nextMessageID++ }, { "date", 1'700'000'000 },
            { "chat", { { "id", integerField(call.fields, "chat_id", 0) }, { "type", "private" } } } };
    }
    if (call.method.starts_with("set") || call.method == "deleteWebhook")
        return true;
    return nullptr;
}

nlohmann::json FakeBotApi::updatesFor(const Call& call, std::unique_lock<std::mutex>& lock, bool& conflict)
{
    // A new poll ends the one still open.
    const std::uint64_t poll = ++m_polls;
    m_changed.notify_all();
    const std::int64_t offset = integerField(call.fields, "offset", 0);
    const std::int64_t timeout = integerField(call.fields, "timeout", 0);
    const std::int64_t limit = std::clamp<std::int64_t>(integerField(call.fields, "limit", 100), 1, 100);

    // A positive offset confirms every update before it: they are never returned again.
    if (offset > 0)
        while (!m_updates.empty() && m_updates.front()["update_id"].get<std::int64_t>() < offset)
            m_updates.pop_front();
    if (m_updates.empty() && timeout > 0)
        m_changed.wait_for(lock, std::chrono::seconds(timeout),
            [&] { return m_stopping || !m_updates.empty() || m_polls != poll; });
    conflict = m_polls != poll;

    nlohmann::json result = nlohmann::json::array();
    for (const auto& update : m_updates) {
        if (static_cast<std::int64_t>(result.size()) >= limit)
            break;
        result.push_back(update);
    }
    return result;
}

} // namespace vardel::test
