#pragma once

#include "SecretStore.h"

#include <memory>
#include <string>

namespace vardel {

class Log;
class Paths;

// A secret kept by the session's Secret Service (GNOME Keyring, KWallet, KeePassXC) through libsecret,
// as an item with the attributes service and account, labelled `label`. Every call is bounded by
// `timeoutSeconds` (an unlock prompt may otherwise wait for ever) and may be made from any thread.
// Read failures other than "not stored" give none and one log line; write failures throw.
class LibsecretSecretStore final : public SecretStore {
public:
    LibsecretSecretStore(std::string service, std::string account, std::string label, Log* log = nullptr,
        double timeoutSeconds = 10);
    ~LibsecretSecretStore() override;

    std::optional<std::string> read() override;
    // Throws vardel::Error (domain of the GError, its code and message) on refusal, lock or time-out.
    void write(const std::string& value) override;

    // Whether the session bus has, or can start, a Secret Service ("org.freedesktop.secrets").
    // False when there is no session bus at all.
    static bool serviceAvailable(double timeoutSeconds = 2);

    // The store of the bot token: this Secret Service store when the session provides one, otherwise a
    // private file in `paths.secrets()`, announced by one log line. A Secret Service that is present but
    // locked or failing is never replaced by the file.
    static std::unique_ptr<SecretStore> forBotToken(const Paths& paths, Log& log);

private:
    struct Schema;

    std::string m_service;
    std::string m_account;
    std::string m_label;
    Log* m_log;
    double m_timeoutSeconds;
    std::unique_ptr<Schema> m_schema;
};

} // namespace vardel
