#pragma once

#include <optional>
#include <string>

namespace vardel {

// One secret string kept somewhere outside the program (a keyring, a private file, memory).
// Implementations may block on their backend; callers on the main thread must use one that bounds its
// calls in time.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The stored secret, or none when nothing is stored or it cannot be read.
    virtual std::optional<std::string> read() = 0;

    // Stores `value`, replacing any previous one. Throws when the backend refuses.
    virtual void write(const std::string& value) = 0;
};

} // namespace vardel
