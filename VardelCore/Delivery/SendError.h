#pragma once

#include <exception>
#include <string>

namespace vardel {

// A classified send failure, thrown by transports and acted on by the alert queue:
// permanent (give the item up), retryAfter (the service asked to slow down), transient (back off), or
// chatUnreachable (the service refuses this chat: unknown to it, or the user blocked the bot; the items
// wait with back-off until the chat is paired again).
// Messages that carry service or transport text never contain the bot token.
class SendError : public std::exception {
public:
    enum class Case { permanent, retryAfter, transient, chatUnreachable };

    static SendError permanent(std::string message) { return { Case::permanent, 0, std::move(message) }; }
    static SendError retryAfter(double seconds, std::string message)
    {
        return { Case::retryAfter, seconds, std::move(message) };
    }
    static SendError transient(std::string message) { return { Case::transient, 0, std::move(message) }; }
    static SendError chatUnreachable(std::string message)
    {
        return { Case::chatUnreachable, 0, std::move(message) };
    }

    Case kind() const { return m_case; }
    // The wait the service asked for; 0 for the other cases.
    double seconds() const { return m_seconds; }
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }
    // The same failure with another message (e.g. with the token removed).
    SendError withMessage(std::string message) const { return { m_case, m_seconds, std::move(message) }; }

    // Equal when case, seconds and message are equal (the exception base carries no state).
    bool operator==(const SendError& other) const
    {
        return m_case == other.m_case && m_seconds == other.m_seconds && m_message == other.m_message;
    }

private:
    SendError(Case kind, double seconds, std::string message)
        : m_case(kind)
        , m_seconds(seconds)
        , m_message(std::move(message))
    {
    }

    Case m_case;
    double m_seconds;
    std::string m_message;
};

} // namespace vardel
