#pragma once

#include "QueueJob.h"

namespace vardel {

// Something that delivers one job. `send` blocks until the service accepted the job (returns) or
// refused it or the request failed (throws, preferably a SendError). Called only on the send queue.
class AlertTransport {
public:
    virtual ~AlertTransport() = default;
    virtual void send(const QueueJob& job) = 0;
};

} // namespace vardel
