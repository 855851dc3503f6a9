#pragma once

#include <string>

namespace vardel {

// Queues a text message for the user's confirmed chat.
class AlertSink {
public:
    virtual ~AlertSink() = default;
    virtual void enqueueText(const std::string& text) = 0;
};

} // namespace vardel
