#pragma once

#include "HTTPPosting.h"

#include <deque>
#include <exception>
#include <mutex>
#include <variant>
#include <vector>

namespace vardel::test {

// An in-memory HTTPPosting: records every request and answers from a script (a response, or an
// exception to throw as the transport failure); with an empty script it answers 200 {"ok":true}.
class ScriptedPoster final : public HTTPPosting {
public:
    void answer(int status, std::string body) { push(Response { status, std::move(body) }); }
    void fail(std::exception_ptr error) { push(std::move(error)); }

    Response post(const Request& request) override
    {
        std::lock_guard guard(m_mutex);
        m_requests.push_back(request);
        if (m_script.empty())
            return { 200, R"({"ok":true,"result":{"message_id":1}})" };
        auto next = std::move(m_script.front());
        m_script.pop_front();
        if (auto* error = std::get_if<std::exception_ptr>(&next))
            std::rethrow_exception(*error);
        return std::get<Response>(next);
    }

    std::vector<Request> requests() const
    {
        std::lock_guard guard(m_mutex);
        return m_requests;
    }

private:
    void push(std::variant<Response, std::exception_ptr> next)
    {
        std::lock_guard guard(m_mutex);
        m_script.push_back(std::move(next));
    }

    mutable std::mutex m_mutex;
    std::deque<std::variant<Response, std::exception_ptr>> m_script;
    std::vector<Request> m_requests;
};

} // namespace vardel::test
