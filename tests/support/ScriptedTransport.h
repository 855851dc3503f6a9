#pragma once

#include "AlertTransport.h"

#include <deque>
#include <exception>
#include <vector>

namespace vardel::test {

// An in-memory AlertTransport: records the jobs it was given and, per call, throws the next scripted
// exception or succeeds when the script is empty. Single-threaded use.
class ScriptedTransport final : public AlertTransport {
public:
    template <typename Error> void fail(Error error) { fail(std::make_exception_ptr(std::move(error))); }
    void fail(std::exception_ptr error) { m_script.push_back(std::move(error)); }

    void send(const QueueJob& job) override
    {
        m_jobs.push_back(job);
        if (m_script.empty())
            return;
        auto next = m_script.front();
        m_script.pop_front();
        std::rethrow_exception(next);
    }

    const std::vector<QueueJob>& jobs() const { return m_jobs; }

private:
    std::deque<std::exception_ptr> m_script;
    std::vector<QueueJob> m_jobs;
};

} // namespace vardel::test
